#pragma once

#include <optional>
#include <string>

namespace kv {

/// Node kinds of the principal tree, held as the node's image index.
enum class PrincipalKind { Group = 0, User = 1, UnknownUser = 6 };

inline constexpr char kUnknownUser[] = "Unknown User";

/// The node selected in the principal tree, as the other subsystems see it.
struct SelectedPrincipal {
    std::string text;
    PrincipalKind kind = PrincipalKind::User;
};

/// Which principal is selected in the tree `UserGroups`; nothing when no node is.
class IPrincipalSelection {
public:
    virtual ~IPrincipalSelection() = default;
    virtual std::optional<SelectedPrincipal> Selected() const = 0;
};

}  // namespace kv
