#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// The deflect path for a shield: the template with its name wildcard replaced by the name of the
// requested file and its extension wildcard by the file's extension. A template whose directory
// part holds "*", or that has no separator, is error 5.
std::string BuildDeflectString(std::string_view pathInfo, std::string_view pathTranslated,
                               std::string_view deflectTemplate);

// The shield request line, CR LF included. The visitor-chosen values B to F are
// percent-encoded so that they cannot add parameters or break the line; the configured parts
// go out as configured.
std::string ShieldRequest(std::string_view flowdeckURL, std::string_view filterURI,
                          std::string_view addShieldURL, std::string_view remoteAddr,
                          std::string_view host, std::string_view resource,
                          std::string_view deflect);

// Appends a value with every byte that is not a letter, a digit or one of
// - . _ ~ / : @ ! $ ' ( ) * , ; written as %XX.
void AppendPercentEncoded(std::string &out, std::string_view value);

// Sends the shield request to port 80 of the server over TCP and closes the connection without
// reading an answer. No outcome of the network is a failure: the trace tells what happened.
void SendShieldToHost(std::string_view server, std::string_view flowdeckURL,
                      std::string_view filterURI, std::string_view addShieldURL,
                      std::string_view remoteAddr, std::string_view host, std::string_view resource,
                      std::string_view deflect);

// The 16-bit integer with the same low 16 bits; error 6 outside 0 to 65535.
int16_t UnsignedToInteger(const int32_t &value);

// Whether the socket can be written to now.
bool IsConnected(int socket);

}  // namespace vantrel
