#include "enforce/InterceptorPassword.h"

#include "enforce/AI.h"

namespace kv {

std::optional<bool> TInterceptorPassword::PasswordSet() {
    return interceptor_.PasswordSet();
}

bool TInterceptorPassword::Verify(const std::string& typed) {
    return interceptor_.CheckPassword(typed);
}

}  // namespace kv
