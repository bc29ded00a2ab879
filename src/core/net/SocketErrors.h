#pragma once
// Socket error numbers in Windows Sockets numbering (the numbers the router tools and the texts
// below are known by) and their fixed texts. The platform's own numbers are mapped here, in one
// place; every socket user reports through these.

#include <QString>

namespace fw {

namespace WsaError {
inline constexpr int Interrupted = 10004;
inline constexpr int BadFile = 10009;
inline constexpr int AccessDenied = 10013;
inline constexpr int Fault = 10014;
inline constexpr int Invalid = 10022;
inline constexpr int TooManyFiles = 10024;
inline constexpr int WouldBlock = 10035;
inline constexpr int InProgress = 10036;
inline constexpr int Already = 10037;
inline constexpr int NotSocket = 10038;
inline constexpr int DestinationRequired = 10039;
inline constexpr int MessageSize = 10040;
inline constexpr int ProtocolType = 10041;
inline constexpr int NoProtocolOption = 10042;
inline constexpr int ProtocolNotSupported = 10043;
inline constexpr int SocketTypeNotSupported = 10044;
inline constexpr int OperationNotSupported = 10045;
inline constexpr int ProtocolFamilyNotSupported = 10046;
inline constexpr int AddressFamilyNotSupported = 10047;
inline constexpr int AddressInUse = 10048;
inline constexpr int AddressNotAvailable = 10049;
inline constexpr int NetworkDown = 10050;
inline constexpr int NetworkUnreachable = 10051;
inline constexpr int NetworkReset = 10052;
inline constexpr int ConnectionAborted = 10053;
inline constexpr int ConnectionReset = 10054;
inline constexpr int NoBuffers = 10055;
inline constexpr int IsConnected = 10056;
inline constexpr int NotConnected = 10057;
inline constexpr int Shutdown = 10058;
inline constexpr int TooManyReferences = 10059;
inline constexpr int TimedOut = 10060;
inline constexpr int ConnectionRefused = 10061;
inline constexpr int Loop = 10062;
inline constexpr int NameTooLong = 10063;
inline constexpr int HostDown = 10064;
inline constexpr int HostUnreachable = 10065;
inline constexpr int NotEmpty = 10066;
inline constexpr int TooManyProcesses = 10067;
inline constexpr int TooManyUsers = 10068;
inline constexpr int DiskQuota = 10069;
inline constexpr int Stale = 10070;
inline constexpr int Remote = 10071;
} // namespace WsaError

// The fixed text of a Windows Sockets error number; "unknown error code : " + number for any
// other. Producing "No route to host." calls the no-route hook.
QString SocketErrorText(int wsaNumber);

// Called each time SocketErrorText produces "No route to host."; null (the default): nobody
// listens. The device search installs its own, so the socket layer knows nothing of the search.
using NoRouteToHostHook = void (*)();
void setNoRouteToHostHook(NoRouteToHostHook hook);

// The FTP client's report of a failed socket call: the number in decimal, ":" and the text of
// its own table (a wording of its own, distinct from SocketErrorText's), or "Unknown Error No. "
// + the number when the number is not in that table.
QString FtpSocketErrorText(int wsaNumber);

// The platform's error number (errno) in Windows Sockets numbering; a number without an
// equivalent is returned unchanged (and so gets the "unknown error code" text).
int wsaErrorFromErrno(int platformError);

} // namespace fw
