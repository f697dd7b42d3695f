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

// Makes folder and the folders above it that are missing, each 0700 whatever the
// umask; the folder itself, when it stood already as this account's, loses what
// group and others had of it. True when the folder stands.
bool makePrivateFolder(const QString &folder);

// Takes from group and others what they had of path (a link is left alone) and,
// for a folder, of everything of this account below it: files an earlier version
// wrote for every account to read.
void narrowToOwner(const QString &path);

// The file at path as narrowToOwner leaves it, made empty (0600) when missing, so
// a writer that keeps a file's mode when it replaces the file keeps this one.
bool makePrivateFile(const QString &path);

// Takes from group and others what they had of an open file, through its
// descriptor, and only when it is a plain file of this account: a name that
// turned out to be a link to a device or to someone else's file keeps its mode.
void narrowOpenFile(int fd);

// True when the other end of a connected local socket runs as this account.
bool peerIsThisAccount(qintptr socketDescriptor);

} // namespace platform
