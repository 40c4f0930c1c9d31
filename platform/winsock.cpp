#include "platform/winsock.h"

#include <netdb.h>

#include <cerrno>

namespace wp::wsa {

int FromErrno(int err) {
    switch (err) {
        case 0: return 0;
        case EINTR: return WSAEINTR;
        case EBADF: return WSAEBADF;
        case EACCES: return WSAEACCES;
        case EPERM: return WSAEACCES;
        case EFAULT: return WSAEFAULT;
        case EINVAL: return WSAEINVAL;
        case EMFILE: return WSAEMFILE;
        case ENFILE: return WSAEMFILE;
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK: return WSAEWOULDBLOCK;
#endif
        case EAGAIN: return WSAEWOULDBLOCK;
        // A non-blocking connect under way is reported as "would block" on
        // the original platform; completion arrives as FD_CONNECT.
        case EINPROGRESS: return WSAEWOULDBLOCK;
        case EALREADY: return WSAEALREADY;
        case ENOTSOCK: return WSAENOTSOCK;
        case EDESTADDRREQ: return WSAEDESTADDRREQ;
        case EMSGSIZE: return WSAEMSGSIZE;
        case EPROTOTYPE: return WSAEPROTOTYPE;
        case ENOPROTOOPT: return WSAENOPROTOOPT;
        case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
        case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
        case EOPNOTSUPP: return WSAEOPNOTSUPP;
        case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
        case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
        case EADDRINUSE: return WSAEADDRINUSE;
        case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
        case ENETDOWN: return WSAENETDOWN;
        case ENONET: return WSAENETDOWN;
        case ENETUNREACH: return WSAENETUNREACH;
        case ENETRESET: return WSAENETRESET;
        case ECONNABORTED: return WSAECONNABORTED;
        case EPROTO: return WSAECONNABORTED;  // the connection broke in the protocol stack
        case ECONNRESET: return WSAECONNRESET;
        case EPIPE: return WSAECONNRESET;  // writing to a peer that is gone
        case ENOBUFS: return WSAENOBUFS;
        case ENOMEM: return WSAENOBUFS;
        case EISCONN: return WSAEISCONN;
        case ENOTCONN: return WSAENOTCONN;
        case ESHUTDOWN: return WSAESHUTDOWN;
        case ETOOMANYREFS: return WSAETOOMANYREFS;
        case ETIMEDOUT: return WSAETIMEDOUT;
        case ECONNREFUSED: return WSAECONNREFUSED;
        case ELOOP: return WSAELOOP;
        case ENAMETOOLONG: return WSAENAMETOOLONG;
        case EHOSTDOWN: return WSAEHOSTDOWN;
        case EHOSTUNREACH: return WSAEHOSTUNREACH;
        case ENOTEMPTY: return WSAENOTEMPTY;
        case EUSERS: return WSAEUSERS;
        case EDQUOT: return WSAEDQUOT;
        case ESTALE: return WSAESTALE;
        case EREMOTE: return WSAEREMOTE;
        default: return WSAEINVAL;  // no counterpart: an argument the call could not use
    }
}

int FromGetAddrInfo(int gaiResult, int sysErrno) {
    switch (gaiResult) {
        case 0: return 0;
        case EAI_NONAME: return WSAHOST_NOT_FOUND;
#ifdef EAI_NODATA
        case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
        case EAI_AGAIN: return WSATRY_AGAIN;
        case EAI_FAIL: return WSANO_RECOVERY;
        case EAI_MEMORY: return WSAENOBUFS;
        case EAI_FAMILY: return WSAEAFNOSUPPORT;
        case EAI_SOCKTYPE: return WSAESOCKTNOSUPPORT;
        case EAI_SERVICE: return WSAEINVAL;
        case EAI_BADFLAGS: return WSAEINVAL;
        // A failure must never read as success, even without an errno.
        case EAI_SYSTEM: return sysErrno != 0 ? FromErrno(sysErrno) : WSANO_RECOVERY;
        default: return WSANO_RECOVERY;
    }
}

}  // namespace wp::wsa
