// The simulator's COM link in a ports folder: DIR/COM<n> -> its pseudo-terminal,
// with an owner record DIR/.COM<n>.modsim ("<pid> <target>") that tells a live
// simulator's link from one left behind by a simulator that died.
#pragma once
#include <cstdint>
#include <string>

struct ComLink {
    std::string link_path;   // DIR/COM<n>
    std::string owner_path;  // DIR/.COM<n>.modsim
    std::string target;      // the device the link points to
    long owner_pid = 0;
};

// Points DIR/COM<n> at target for the process owner_pid. A missing link is made;
// a dangling one, or one whose recorded owner is gone, is replaced. Refused (false,
// with the reason in error): a path that is not a symbolic link, a link of a live
// simulator, and a link to a live device that no simulator recorded. The folder is
// made when it is missing (one level only).
bool claim_com_link(const std::string& ports_dir, uint32_t port_number, const std::string& target, long owner_pid,
                    ComLink& link, std::string& error);

// Removes the link only while it still points to our target, and the owner record
// only while it still names our process: a newer simulator's link is left alone.
void release_com_link(const ComLink& link);
