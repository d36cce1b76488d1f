// Adds a test's certificate authority to the current user's trusted roots, as a user would with
// the certificate manager: the Windows transport trusts what the system trusts, as the Linux one
// does, so the mail test under Wine trusts its authority this way.
// Usage: TrustRoot.exe CA.pem
#include <windows.h>
// wincrypt.h needs windows.h first.
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: TrustRoot CA.pem\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  DWORD size = 0;
  if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr,
                                           &size, nullptr, nullptr)) {
    std::fprintf(stderr, "%s: no PEM certificate\n", argv[1]);
    return 1;
  }
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                            nullptr) ||
      !CertAddEncodedCertificateToSystemStoreA("Root", der.data(), size)) {
    std::fprintf(stderr, "%s: not added to the trusted roots (error %lu)\n", argv[1],
                 GetLastError());
    return 1;
  }
  return 0;
}
