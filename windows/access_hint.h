// The box that follows "Zařízení není připojeno." when a port could not be
// opened because this user may not use its device.
#pragma once

#include "link/port_access.h"

#include <QString>

#include <vector>

namespace zorm {

// Names the devices and the fix: membership of the group that owns them,
// with the command that adds `user`, and a new login. Without such a group
// the user is sent to the administrator.
QString DeniedAccessHint(const std::vector<DeniedPort>& denied, const QString& user);

// The login name of the user running the program.
QString CurrentUserName();

} // namespace zorm
