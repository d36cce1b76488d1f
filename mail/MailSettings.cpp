#include "mail/MailSettings.h"

#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"

namespace dv {

MailSettings ReadMailSettings(const IniFile& file) {
  const MailSettings defaults;
  MailSettings settings;
  settings.host = file.ReadString(kSmtpHostKey, defaults.host);
  settings.login = file.ReadString(kSmtpLoginKey, defaults.login);
  settings.from = file.ReadString(kSmtpFromKey, defaults.from);
  settings.mail = file.ReadString(kSmtpMailKey, defaults.mail);
  settings.port = file.ReadString(kSmtpPortKey, defaults.port);
  settings.password = file.ReadString(kSmtpPasswordKey, defaults.password);
  settings.authentication = file.ReadBool(kSmtpAuthenticationKey, defaults.authentication);
  settings.security = file.ReadInteger(kSmtpSecurityKey, defaults.security);
  return settings;
}

}  // namespace dv
