#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "server.h"
#include "test_support.h"

namespace ostrel::testing {

// A test suite whose tests each run a server of their own on real loopback
// listeners. The certificate authority is made once per suite (making one
// takes a while); the data folder and the server are each test's own.
// AddressSalt picks the suite's loopback address, so suites are easy to tell
// apart in logs; each suite gets its own statics through it.
template <int AddressSalt>
class ServerFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certDir_ = std::make_unique<TempDir>();
    address_ = LoopbackAddressFor(AddressSalt);
    certs_ = MakeCertificates(certDir_->path(), {address_});
  }
  static void TearDownTestSuite() { certDir_.reset(); }

  // A server on the suite's address with its certificate and this test's data,
  // on an HTTPS port of the system's choosing, without request logging.
  ServerOptions Options() const {
    ServerOptions options;
    options.address = address_;
    options.httpsPort = 0;
    options.certFile = certs_.cert;
    options.keyFile = certs_.key;
    options.dataDir = data_.path();
    options.logRequests = false;
    return options;
  }

  void StartServer(const ServerOptions& options) {
    server_ = std::make_unique<OstrelServer>(options);
    server_->Start();
  }

  static inline std::unique_ptr<TempDir> certDir_;
  static inline std::string address_;
  static inline TestCertificates certs_;
  TempDir data_;
  std::unique_ptr<OstrelServer> server_;
};

}  // namespace ostrel::testing
