#pragma once
// The exporter's HTTP side: /metrics (the exporter's own health), /probe?target=HOST[:PORT]
// [&map=NAME][&config=NAME] (one module and the devices of a map behind it, asked now) and / (where to look). Requests
// arrive through the bounded listener; Qt's HTTP server parses them. Every reply is written through the connection's
// own queue, in the order of its requests: a probe answers from a later turn of the event loop, after the request
// object Qt's responder would refer to may already serve the connection's next request.

#include "BoundedListener.h"
#include "NamedFiles.h"
#include "ProbeCycles.h"

#include <QAbstractHttpServer>

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct TExporterSettings {
    THttpLimits Http;
    TProbeSettings Probe;
    std::string ConfigFolder;  // reference configurations, NAME.ini; empty: none
    std::string MapFolder;     // register maps, NAME.csv; empty: none
    // The addresses a probe may ask, first and last of each range (host order); empty: any.
    std::vector<std::pair<uint32_t, uint32_t>> Allowed;
    // The time a probe may take when the scrape does not say (no X-Prometheus-Scrape-Timeout-Seconds).
    std::chrono::milliseconds DefaultBudget{9500};
};

class TExporterServer : public QAbstractHttpServer {
public:
    explicit TExporterServer(const TExporterSettings& settings, QObject* owner = nullptr);
    ~TExporterServer() override;

    // Listens on address:port (0: a port the system picks); false with the system's reason.
    bool Listen(const QHostAddress& address, uint16_t port, std::string& error);
    uint16_t Port() const;

    // The probe's time for a scrape that allows timeoutSeconds (empty: not said).
    std::chrono::milliseconds ProbeBudget(const QByteArray& timeoutSeconds) const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    // Answers the request at its place on the connection; status and page are counted.
    void Answer(THttpConnection* connection, uint64_t place, const char* page, int status,
                const QByteArray& contentType, const QByteArray& body);
    void Probe(const QHttpServerRequest& request, THttpConnection* connection, uint64_t place);
    bool Allowed(const std::string& address) const;
    std::string HealthPage() const;

    const TExporterSettings Settings_;
    TBoundedListener* Listener_;
    TProbeCycles Cycles_;
    TNamedFiles Configs_;
    TNamedFiles Maps_;
    std::map<std::pair<std::string, int>, uint64_t> Requests_;  // by page and status
};
