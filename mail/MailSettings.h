// The mail keys of the settings file, as the SMTP window holds them.
#pragma once

#include <string>

namespace dv {

class IniFile;

struct MailSettings {
  std::string host;
  std::string port = "25";  // decimal text; anything else fails the send
  std::string login;
  std::string password;
  std::string from;
  std::string mail;  // the recipient list, comma separated
  bool authentication = false;
  int security = 0;  // 0 none, 1 STARTTLS, 2 TLS from the first byte
};

// The mail keys of the settings file; a missing key gives the SMTP window's design value.
MailSettings ReadMailSettings(const IniFile& file);

}  // namespace dv
