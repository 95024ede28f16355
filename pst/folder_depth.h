// How deep a store's folder tree may go: the one limit the writer keeps and the checker checks.
//
// A folder's level is counted from the top of the personal folders (the IPM subtree, "Top of
// Personal Folders"): its subfolders, Inbox among them, are level 1, theirs level 2, and so on. In
// steps from the store's root folder, which holds the top of the personal folders, a folder at
// level L is L + 1 steps down.
//
// The file format sets no limit (a folder tree of any depth can be written and read). Outlook's
// documentation names none for data files either; the one published limit on Outlook's folders is
// that of Exchange mailboxes, a folder hierarchy at most 300 deep, which is what a data file must
// keep to if its folders are ever to be moved into such a mailbox. We keep to it.
#pragma once

namespace pst {

inline constexpr int kMaxFolderDepth = 300;

}  // namespace pst
