#pragma once

#include <cstdlib>
#include <cstring>
#include <string>

namespace kv {

enum class Buttons { Ok, YesNo, YesNoCancel };
enum class Answer { Ok, Yes, No, Cancel };
enum class MessageIcon { None, Information, Warning, Error, Question };

/// True in a scripted run (`KESTRAVA_NONINTERACTIVE=1`): no one is there to
/// answer, so every message box and prompt takes its safe default at once.
inline bool NonInteractive() {
    const char* env = std::getenv("KESTRAVA_NONINTERACTIVE");
    return env && std::strcmp(env, "1") == 0;
}

/// Modal message boxes and questions. The program shows them with the window
/// toolkit; tests answer them with a scripted stand-in, so nothing blocks.
class IPrompts {
public:
    virtual ~IPrompts() = default;
    virtual Answer Message(const std::string& text, const std::string& title, Buttons buttons,
                           MessageIcon icon) = 0;
};

}  // namespace kv
