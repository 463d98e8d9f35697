#pragma once
#include "transfer/LocalFile.h"
#include "windef.h"

class RemoteFolderNames;
class BatchHost;
enum class TransferMode;

// An upload of one file as the commands start it: resumed where a stopped one can go on
// (UploadResume.h), else through a name of its own that replaces the target only when whole
// (RemoteReplace.h). Both of those send with the engine's loop (SendFrom), so this is kept
// apart from the engine rather than making the three depend on each other.

// Sends the local file into the current remote directory under its file-name part
// (lower-cased when the host asks for it). True only when the server confirmed the stored
// file, or when the upload was cancelled (or never started because Cancel was already set).
// The data goes to a temporary name and takes the file's name only once the server confirmed
// it whole (UploadReplacing), so a cancelled or failed upload never leaves part of a file
// under the real name. `names` knows the current remote directory (its path, for the record of
// stopped uploads). A large file whose upload stops early can be resumed later where the host
// remembers stopped uploads (SendRemembered).
bool UploadFile(BatchHost& host, const LocalSource& localFile, TransferMode mode);
bool UploadFile(BatchHost& host, const LocalSource& localFile, TransferMode mode,
                RemoteFolderNames& names);
