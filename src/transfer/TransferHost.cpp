#include "transfer/TransferHost.h"

#include "remote/FtpServerSession.h"

ServerSession& TransferHost::session()
{
    if (!m_session || m_session->connectionHandle() != connectionHandle())
        m_session = std::make_shared<FtpServerSession>(connectionHandle(), nullptr, false);
    return *m_session;
}
