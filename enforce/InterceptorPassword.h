#pragma once

#include "access/PasswordGate.h"

namespace kv {

class TDodiInterceptor;

/// The password gate's questions, answered by the interceptor service, for a
/// program that cannot read the settings itself.
class TInterceptorPassword : public IPasswordService {
public:
    explicit TInterceptorPassword(TDodiInterceptor& interceptor) : interceptor_(interceptor) {}
    std::optional<bool> PasswordSet() override;
    bool Verify(const std::string& typed) override;

private:
    TDodiInterceptor& interceptor_;
};

}  // namespace kv
