#include "net/SocketErrors.h"

#include <cerrno>

namespace fw {

int wsaErrorFromErrno(int e) {
    switch (e) {
    case EINTR:
        return WsaError::Interrupted;
    case EBADF:
        return WsaError::BadFile;
    case EACCES:
    case EPERM:
        return WsaError::AccessDenied;
    case EFAULT:
        return WsaError::Fault;
    case EINVAL:
        return WsaError::Invalid;
    case EMFILE:
    case ENFILE:
        return WsaError::TooManyFiles;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
        return WsaError::WouldBlock;
    case EINPROGRESS:
        return WsaError::InProgress;
    case EALREADY:
        return WsaError::Already;
    case ENOTSOCK:
        return WsaError::NotSocket;
    case EDESTADDRREQ:
        return WsaError::DestinationRequired;
    case EMSGSIZE:
        return WsaError::MessageSize;
    case EPROTOTYPE:
        return WsaError::ProtocolType;
    case ENOPROTOOPT:
        return WsaError::NoProtocolOption;
    case EPROTONOSUPPORT:
        return WsaError::ProtocolNotSupported;
    case ESOCKTNOSUPPORT:
        return WsaError::SocketTypeNotSupported;
#if EOPNOTSUPP != ENOTSUP
    case ENOTSUP:
#endif
    case EOPNOTSUPP:
        return WsaError::OperationNotSupported;
    case EPFNOSUPPORT:
        return WsaError::ProtocolFamilyNotSupported;
    case EAFNOSUPPORT:
        return WsaError::AddressFamilyNotSupported;
    case EADDRINUSE:
        return WsaError::AddressInUse;
    case EADDRNOTAVAIL:
        return WsaError::AddressNotAvailable;
    case ENETDOWN:
        return WsaError::NetworkDown;
    case ENETUNREACH:
        return WsaError::NetworkUnreachable;
    case ENETRESET:
        return WsaError::NetworkReset;
    case ECONNABORTED:
        return WsaError::ConnectionAborted;
    case ECONNRESET:
        return WsaError::ConnectionReset;
    case ENOBUFS:
    case ENOMEM:
        return WsaError::NoBuffers;
    case EISCONN:
        return WsaError::IsConnected;
    case ENOTCONN:
        return WsaError::NotConnected;
    case EPIPE:
    case ESHUTDOWN:
        return WsaError::Shutdown;
    case ETOOMANYREFS:
        return WsaError::TooManyReferences;
    case ETIMEDOUT:
        return WsaError::TimedOut;
    case ECONNREFUSED:
        return WsaError::ConnectionRefused;
    case ELOOP:
        return WsaError::Loop;
    case ENAMETOOLONG:
        return WsaError::NameTooLong;
    case EHOSTDOWN:
        return WsaError::HostDown;
    case EHOSTUNREACH:
        return WsaError::HostUnreachable;
    case ENOTEMPTY:
        return WsaError::NotEmpty;
#ifdef EPROCLIM
    case EPROCLIM:
        return WsaError::TooManyProcesses;
#endif
    case EUSERS:
        return WsaError::TooManyUsers;
    case EDQUOT:
        return WsaError::DiskQuota;
    case ESTALE:
        return WsaError::Stale;
    case EREMOTE:
        return WsaError::Remote;
    default:
        return e;
    }
}

} // namespace fw
