#pragma once

#include <cstdint>

#include "driver/mounts/Gate.h"

// Which operation bits each request of the protection mounts asks about. One
// function per request kind, so that what each check box refuses is read and
// tested in one place, apart from how requests are served.
namespace kv::driver::mounts::bits {

/// Looking an item up: none (Hide and Full still decide, as for every request).
std::uint32_t Lookup();
/// Reading an item's attributes. Retrieve attributes is about asking for them
/// by path (stat, lstat, statx): not when the caller reads a file it opened
/// (`opened`: the request names the caller's open file, or the caller holds
/// the item open), since every read and fstat asks too.
std::uint32_t GetAttr(bool opened);
/// Opening an existing file with `flags` (open(2)). Open and Read are about
/// files; writing or truncating changes the content, which Replace protects
/// as well as Write.
std::uint32_t Open(int flags);
/// Creating a new file and opening it with `flags`.
std::uint32_t Create(int flags);
/// Opening a folder to list it: none (what the listing shows is Hide's).
std::uint32_t OpenDirectory();
/// Changing attributes (`toSet`: FUSE_SET_ATTR_* bits). Linux has no
/// settable creation time, so Change creation time refuses nothing here.
std::uint32_t SetAttr(int toSet);
/// fallocate: changes the content, as a write does.
std::uint32_t Fallocate();
/// Setting or removing an extended attribute.
std::uint32_t SetXattr();
/// Reading extended attributes (getxattr, listxattr).
std::uint32_t GetXattr();
/// access(2) with `mask` (R_OK, W_OK, X_OK).
std::uint32_t Access(int mask);
/// Removing a file or (`folder`) a folder.
std::uint32_t Remove(bool folder);
/// What a rename asks of its source item.
std::uint32_t RenameSource();
/// What a rename asks of its target name: creating it when the item comes
/// from another folder (a rename within one folder is Rename's alone), and
/// when an item of that name exists (`targetExists`, `targetFolder`), that it
/// may be replaced and deleted; an exchange (`exchange`) also renames it.
std::uint32_t RenameTarget(bool sameFolder, bool targetExists, bool targetFolder, bool exchange);
/// Making a new item: a file, link or node (`folder` false) or a folder.
std::uint32_t Make(bool folder);
/// A second name for an item: asked of the item, and of the new name.
std::uint32_t LinkSource();
std::uint32_t LinkTarget();

}  // namespace kv::driver::mounts::bits
