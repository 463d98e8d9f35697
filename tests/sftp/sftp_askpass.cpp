// The askpass helper of the file-transfer tests: the program itself is one (main() asks
// runAskpassHelper first), but a test executable cannot be, so this stands in for it.
#include "sftp/Askpass.h"

int main(int argc, char* argv[])
{
    const int status = sftp::runAskpassHelper(argc, argv);
    return status < 0 ? 2 : status;
}
