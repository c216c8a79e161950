#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/Prompts.h"

namespace kv::test {

/// Answers message boxes from a script and records what was shown.
class ScriptedPrompts : public IPrompts {
public:
    struct Shown {
        std::string text;
        std::string title;
        Buttons buttons;
    };

    void Queue(Answer answer) { answers_.push_back(answer); }

    Answer Message(const std::string& text, const std::string& title, Buttons buttons,
                   MessageIcon) override {
        shown.push_back({text, title, buttons});
        if (answers_.empty())
            return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
        const Answer a = answers_.front();
        answers_.pop_front();
        return a;
    }

    std::vector<Shown> shown;

private:
    std::deque<Answer> answers_;
};

}  // namespace kv::test
