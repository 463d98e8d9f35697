#pragma once
// The user's known_hosts file in OpenSSH's format: which lines hold a host's keys, and their
// replacement by a key the user accepted after a change. The line filter is a pure function
// over text, so it is tested without a server.
#include "sftp/SftpTypes.h"

#include <string>
#include <string_view>

namespace sftp {

// The name ssh looks a host up by: the HostKeyAlias when one is set, else the host name in
// lower case, as "[name]:port" when the port is not 22.
std::string knownHostsName(std::string_view hostName, int port, std::string_view alias);

// `text` without the keys of `name`: a line naming only that host goes, a line naming others
// too keeps them; hashed names ("|1|salt|hash") are compared by their hash. Marker lines
// (@revoked, @cert-authority), comments, wildcard patterns and every other line stay as they
// are, byte for byte.
std::string withoutHostKeys(std::string_view text, std::string_view name);

// Replaces the keys of `name` in `file` by `newLines` (whole known_hosts lines): written under
// a temporary name in the same folder with the file's own mode and owner, then renamed over
// it, so a crash leaves the old file or the new one and never half of either. A link is
// followed to the file it names. False with `error` when the file could not be written.
bool replaceHostKeys(const std::string& file, std::string_view name, std::string_view newLines,
                     Error& error);

} // namespace sftp
