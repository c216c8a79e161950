#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "principals/GroupCommands.h"

namespace kv::test {

/// Answers the group dialog from a script (nothing: Cancel) and records the requests.
class ScriptedGroupDialog : public IGroupDialog {
public:
    std::optional<std::string> Run(const GroupDialogRequest& request) override {
        requests.push_back(request);
        if (answers.empty())
            return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::deque<std::optional<std::string>> answers;
    std::vector<GroupDialogRequest> requests;
};

}  // namespace kv::test
