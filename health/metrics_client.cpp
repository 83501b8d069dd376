#include "health/metrics_client.h"

#include <openssl/pem.h>
#include <openssl/x509_vfy.h>

#include <httplib.h>
#include <cstdio>
#include <memory>

#include "web/web_config.h"

namespace callsink {
namespace {

// A store trusting the certificates of `file` as they are, also a server's
// own certificate that no CA of the store signed; null when it holds none.
X509_STORE* StoreTrusting(const std::string& file) {
  const std::unique_ptr<FILE, int (*)(FILE*)> pem(std::fopen(file.c_str(), "r"), &std::fclose);
  if (!pem) return nullptr;
  X509_STORE* store = X509_STORE_new();
  int count = 0;
  while (X509* certificate = PEM_read_X509(pem.get(), nullptr, nullptr, nullptr)) {
    count += X509_STORE_add_cert(store, certificate);
    X509_free(certificate);
  }
  X509_STORE_set_flags(store, X509_V_FLAG_PARTIAL_CHAIN);
  if (count > 0) return store;
  X509_STORE_free(store);
  return nullptr;
}

bool Get(httplib::ClientImpl& client, std::string* page, std::string* error) {
  client.set_connection_timeout(MetricsClient::kTimeoutSeconds);
  client.set_read_timeout(MetricsClient::kTimeoutSeconds);
  const httplib::Result result = client.Get("/metrics");
  if (!result) {
    *error = httplib::to_string(result.error());
    return false;
  }
  if (result->status == 401) {
    *error = "the endpoint asks for a password (basic_auth_users)";
    return false;
  }
  if (result->status != 200) {
    *error = "HTTP status " + std::to_string(result->status);
    return false;
  }
  *page = result->body;
  return true;
}

}  // namespace

bool MetricsClient::Fetch(const std::string& host, int port, std::string* page,
                          std::string* error) {
  return Fetch(host, port, "", page, error);
}

std::string MetricsClient::Url(const std::string& address, const std::string& web_config) {
  WebConfig config;
  std::string error;
  const bool tls =
      !web_config.empty() && WebConfig::Load(web_config, &config, &error) && config.tls;
  return std::string(tls ? "https://" : "http://") + address + "/metrics";
}

bool MetricsClient::Fetch(const std::string& host, int port, const std::string& web_config,
                          std::string* page, std::string* error) {
  WebConfig config;
  if (!web_config.empty() && !WebConfig::Load(web_config, &config, error)) return false;
  if (!config.tls) {
    httplib::ClientImpl client(host, port);
    return Get(client, page, error);
  }
  httplib::SSLClient client(host, port);
  X509_STORE* store = StoreTrusting(config.tls->cert_file);
  if (store == nullptr) {
    *error = "cannot read the certificate " + config.tls->cert_file;
    return false;
  }
  client.set_ca_cert_store(store);  // the client owns it from now on
  client.enable_server_certificate_verification(true);
  if (Get(client, page, error)) return true;
  if (config.tls->client_auth == WebConfig::ClientAuth::kRequireAny ||
      config.tls->client_auth == WebConfig::ClientAuth::kRequireAndVerify) {
    *error += ", the endpoint requires a client certificate";
  }
  return false;
}

}  // namespace callsink
