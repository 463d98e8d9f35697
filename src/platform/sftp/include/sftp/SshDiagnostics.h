#pragma once
// Reading what OpenSSH's client says: its prompts (which kind of question, and for a new host
// the key type and fingerprint) and its error output, turned into plain words. Pure functions
// over text, so they are tested without a server.
#include "sftp/SftpTypes.h"

#include <string>
#include <string_view>

namespace sftp {

// The kind of a prompt ssh passes to its askpass program; `hint` is the SSH_ASKPASS_PROMPT
// value ssh sets ("confirm", "none" or empty). For a host key, `keyType` and `fingerprint` are
// filled from "ED25519 key fingerprint is SHA256:....".
PromptRequest classifyPrompt(std::string_view prompt, std::string_view hint);

// ssh's warning for a host whose key changed names the new key in two lines:
//   "The fingerprint for the ED25519 key sent by the remote host is"
//   "SHA256:...."
bool parseChangedHostKey(std::string_view sshErrors, std::string& keyType,
                         std::string& fingerprint);

// The error of an ssh that ended before the file-transfer protocol ran, from its error output.
// `host` names the site in the text.
Error describeSshFailure(std::string_view sshErrors, std::string_view host);

} // namespace sftp
