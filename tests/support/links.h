// links.h: symbolic links for the tests of what the launcher never follows,
// and a snapshot of a folder tree to show that what they point to stayed as
// it was.
//
// Under Wine, whose CreateSymbolicLinkW makes nothing, a link is a Unix
// symbolic link, made and removed by ln and rm run from here (Wine starts
// Unix programs, but neither waits for them nor gives back their exit
// codes). On Windows, CreateSymbolicLinkW (developer mode or the privilege).
#ifndef ZOBREL_TESTS_SUPPORT_LINKS_H
#define ZOBREL_TESTS_SUPPORT_LINKS_H

#include <map>
#include <string>

// True when the tests run under Wine.
bool under_wine();

// Makes `link` a symbolic link to `target` (which need not exist; a link to
// itself loops). `folder` says what it points to, for Windows.
void make_link(const std::wstring &link, const std::wstring &target, bool folder);

// Removes the link itself, never its target: under Wine, deleting a link
// from a Windows program deletes what it points to. Nothing when it is
// not there.
void remove_link(const std::wstring &link);

// Every file and folder under dir, by path relative to it (folders end in
// a backslash), with each file's content; links are not followed.
std::map<std::wstring, std::string> snapshot(const std::wstring &dir);

#endif
