// How deep a store's folder tree may go: the one limit the writer keeps and the checker checks.
//
// A folder's level is counted from the top of the personal folders (the IPM subtree, "Top of
// Personal Folders"): its subfolders, Inbox among them, are level 1, theirs level 2, and so on. In
// steps from the store's root folder, which holds the top of the personal folders, a folder at
// level L is L + 1 steps down.
//
// The file format sets no limit (a folder tree of any depth can be written and read), and Outlook's
// documentation names none for data files; the one published figure near it is that of Exchange
// mailboxes, a folder hierarchy at most 300 deep. Readers are stricter: the reader built on
// Microsoft's published PST crate, which we check our stores with, reports a folder more than 64
// steps below the root folder as too deep (level 64 here), and so did our own checker before. We
// keep to the strictest, so that every reader takes what we write; a deeper source tree is folded
// into the deepest level rather than written past it.
#pragma once

namespace pst {

inline constexpr int kMaxFolderDepth = 63;

}  // namespace pst
