#include "net/NetSocketTypes.h"

#include "net/InetSocketErrors.h"

ESocketException::ESocketException(const std::string& Msg, const std::string& ProtocolText,
                                   const std::string& PortText, const std::string& AddressText,
                                   const std::string& OperationName, const std::string& UserText,
                                   const std::string& ErrorText, int SocketCode)
    : framework::Exception(Msg),
      ErrorText(ErrorText),
      AddressText(AddressText),
      PortText(PortText),
      ProtocolText(ProtocolText),
      SocketCode(SocketCode),
      UserText(UserText),
      OperationName(OperationName) {
    if (SocketCode > 0 && this->ErrorText.empty()) this->ErrorText = SocketErrorText(SocketCode);
    if (this->UserText.empty()) this->UserText = Msg;
}
