#include "ftp/FtpConnection.h"

TFtpConnection FtpConnection;
