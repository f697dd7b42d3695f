#pragma once
// Places on the machine that other local accounts can neither reach nor plant
// something in. On Windows the user's temporary folder and a pipe's ACL give
// this; on Linux the shared /tmp does not.
#include <QString>
#include <QtGlobal>

namespace platform {

// A folder of the player's own for temporary files and local sockets: made on
// first use (0700) and checked at every call, never followed through a link.
// One that another account made or could write is passed over for the next
// name. Empty when none could be had.
QString privateTempDir();

// True when path is a folder (not a link) of this account that no other
// account may enter or write.
bool isPrivateFolder(const QString &path);

// True when the other end of a connected local socket runs as this account.
bool peerIsThisAccount(qintptr socketDescriptor);

} // namespace platform
