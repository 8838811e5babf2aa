// Addresses as text and back: IPv4 and IPv6 literals, the socket-address record, and the
// blocking resolvers for host, port and protocol names that connecting, listening and
// binding use. The resolvers raise ESocketException; the parsers return false.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "net/NetSocketTypes.h"

// The socket-address record: room for either family (28 bytes).
using TSockAddrIn6 = sockaddr_in6;

bool IsDigit(char Ch);
// Lenient: blanks before, digits and dots with exactly three dots and parts up to 255, and
// only blanks after the first other character.
bool IsDottedIPv4(const std::string& Text);
// Digits and dots only, exactly three dots, no empty part before a dot, parts up to 255.
bool IsIPv4Strict(const std::string& Text);
// The address in network order (first part in the lowest byte); 0xFFFFFFFF with Ok false
// for anything but four parts of 0..255.
uint32_t ParseIPv4(const std::string& Text, bool& Ok);
std::string IPv4ToText(uint32_t Addr);
// 16 bytes, groups high byte first, and a scope id after "%". Every text IPv6ToText writes
// is accepted, including a compressed single zero group at either end.
bool ParseIPv6(const std::string& Text, in6_addr& Bytes, uint32_t& ScopeId);
// Lower case, the longest run of zero groups (the first on ties, also a single group)
// compressed to "::".
std::string IPv6ToText(const in6_addr& Bytes);
// The address and, when the scope id is not 0, "%" and the id.
std::string SockAddr6ToText(const TSockAddrIn6& Record);
// sfIPv4 for a strict IPv4 literal, sfIPv6 for an IPv6 one; false with 0 otherwise.
bool IPLiteralKind(const std::string& Text, TSocketFamily& Kind);

// Zeroes the record and sets family AF_INET6 for sfIPv6, else AF_INET.
void InitSockAddr(TSockAddrIn6& Record, TSocketFamily Family);
// 16 for AF_INET, 28 for AF_INET6.
int SockAddrLen(const TSockAddrIn6& Record);

// Blocking; raise ESocketException with the text of the failure.
uint32_t WinsockResolveIPv4(const std::string& Text);
void WinsockResolveHost(const std::string& Text, TSockAddrIn6& Target, TSocketFamily Family, int Protocol);
// Host order. A number above 65535 is refused.
uint16_t WinsockResolvePort(const std::string& Port, const std::string& Proto);
int WinsockResolveProto(const std::string& Proto);
// The machine's host name; raises "Winsock Get Host Name failed".
std::string NetSocketHostName();
int ProcessorCount();
