#pragma once
#include "remote/ServerSession.h"

#include "sftp/SftpClient.h"

#include <memory>
#include <string>

// The engine's transfers run on a thread of their own with many requests in flight, while the
// caller's stream reads what they received or hands them what to send; null with `result`
// saying why when the server refused the file.
std::unique_ptr<RemoteStream> OpenSftpReadStream(sftp::SftpClient& client, std::string path,
                                                 std::uint64_t offset, RemoteResult& result);
std::unique_ptr<RemoteStream> OpenSftpWriteStream(sftp::SftpClient& client, std::string path,
                                                  sftp::UploadMode mode, std::uint64_t offset,
                                                  RemoteResult& result);
