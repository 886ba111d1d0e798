#include "ExporterServer.h"

#include "MetricsText.h"
#include "ModuleAddress.h"
#include "ProbePage.h"
#include "ProcessMetrics.h"
#include "RegisterMapFile.h"

#include <QHttpServerRequest>
#include <QPointer>
#include <QUrlQuery>

#include <algorithm>
#include <cmath>

namespace {

const QByteArray TextType = "text/plain; charset=utf-8";

// The port of a target given without one: ModbusTCP's own.
constexpr uint16_t ModbusTcpPort = 502;

// Taken from the scrape's own time-out, so that the page reaches Prometheus before it gives up.
constexpr std::chrono::milliseconds BudgetMargin{500};

const char* const IndexPage = "korvel-exporter\n"
                              "/metrics  the exporter's own health\n"
                              "/probe?target=HOST[:PORT][&map=NAME][&config=NAME]  one module, asked now\n";

const char* RefusalWord(THttpRefusal reason)
{
    switch (reason) {
    case THttpRefusal::ConnectionLimit: return "connection_limit";
    case THttpRefusal::TooLarge: return "too_large";
    case THttpRefusal::Timeout: return "timeout";
    case THttpRefusal::TooManyRequests: return "too_many_requests";
    }
    return "other";
}

const char* AnswerWord(TProbeAnswer answer)
{
    switch (answer) {
    case TProbeAnswer::Cycle: return "cycle";
    case TProbeAnswer::Shared: return "shared";
    case TProbeAnswer::Interval: return "interval";
    case TProbeAnswer::Cut: return "cut";
    }
    return "other";
}

}  // namespace

TExporterServer::TExporterServer(const TExporterSettings& settings, QObject* owner)
    : QAbstractHttpServer(owner)
    , Settings_(settings)
    , Listener_(new TBoundedListener(settings.Http, this))
    , Cycles_(settings.Probe)
    , Configs_(settings.ConfigFolder, "ini")
    , Maps_(settings.MapFolder, "csv")
{}

TExporterServer::~TExporterServer() = default;

bool TExporterServer::Listen(const QHostAddress& address, uint16_t port, std::string& error)
{
    if (!Listener_->listen(address, port)) {
        error = Listener_->errorString().toStdString();
        return false;
    }
    bind(Listener_);
    return true;
}

uint16_t TExporterServer::Port() const
{
    return Listener_->serverPort();
}

std::chrono::milliseconds TExporterServer::ProbeBudget(const QByteArray& timeoutSeconds) const
{
    bool ok = false;
    const double seconds = timeoutSeconds.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0)
        return Settings_.DefaultBudget;
    // Never longer than the exporter's own default allows, whatever a client says.
    const auto allowed = std::chrono::milliseconds(int64_t(std::min(seconds, 3600.0) * 1000));
    return std::max(allowed - std::min(BudgetMargin, allowed / 4), std::chrono::milliseconds(0));
}

void TExporterServer::missingHandler(const QHttpServerRequest&, QTcpSocket*)
{
    // Every request is handled by handleRequest.
}

bool TExporterServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    THttpConnection* connection = Listener_->Connection(socket);
    if (!connection)
        return true;
    const std::optional<uint64_t> place =
        connection->RequestArrived(request.value("Connection").trimmed().toLower() == "close");
    if (!place)
        return true;
    const QString path = request.url().path();
    if (request.method() != QHttpServerRequest::Method::Get) {
        Answer(connection, *place, "other", 405, TextType, "только GET\n");
    } else if (path == "/metrics") {
        Answer(connection, *place, "metrics", 200, TMetricsText::ContentType, QByteArray::fromStdString(HealthPage()));
    } else if (path == "/probe") {
        Probe(request, connection, *place);
    } else if (path == "/") {
        Answer(connection, *place, "index", 200, TextType, IndexPage);
    } else {
        Answer(connection, *place, "other", 404, TextType, "нет такой страницы\n");
    }
    return true;
}

void TExporterServer::Answer(THttpConnection* connection, uint64_t place, const char* page, int status,
                             const QByteArray& contentType, const QByteArray& body)
{
    ++Requests_[{page, status}];
    connection->Reply(place, HttpReply(status, contentType, body));
}

bool TExporterServer::Allowed(const std::string& address) const
{
    uint32_t number = 0;
    return Settings_.Allowed.empty() ||
           (AddressNumber(address, number) &&
            std::any_of(Settings_.Allowed.begin(), Settings_.Allowed.end(),
                        [number](const auto& range) { return number >= range.first && number <= range.second; }));
}

void TExporterServer::Probe(const QHttpServerRequest& request, THttpConnection* connection, uint64_t place)
{
    const QUrlQuery query = request.query();
    const auto refuse = [&](const std::string& text) {
        Answer(connection, place, "probe", 400, TextType, QByteArray::fromStdString(text + "\n"));
    };
    for (const auto& [key, value] : query.queryItems())
        if (key != "target" && key != "config" && key != "map")
            return refuse("неизвестный параметр " + key.toStdString());
    TModuleAddress module;
    const std::string target = query.queryItemValue("target", QUrl::FullyDecoded).toStdString();
    if (target.empty())
        return refuse("не задан target=HOST[:PORT]");
    if (!ParseModuleAddress(target, ModbusTcpPort, module))
        return refuse("неверный адрес модуля " + target);
    if (!Allowed(module.Address)) {
        Answer(connection, place, "probe", 403, TextType,
               QByteArray::fromStdString("адрес " + module.Address + " вне разрешённых --allow\n"));
        return;
    }
    std::optional<TReferenceConfig> reference;
    if (query.hasQueryItem("config")) {
        reference.emplace();
        reference->Name = query.queryItemValue("config", QUrl::FullyDecoded).toStdString();
        std::string path, error;
        if (!Configs_.PathOf(reference->Name, path, error) ||
            LoadCheckedConfig(path, reference->Config, error) != TConfigFileState::Ok)
            return refuse(error);
    }
    std::shared_ptr<TNamedMap> map;
    if (query.hasQueryItem("map")) {
        map = std::make_shared<TNamedMap>();
        map->Name = query.queryItemValue("map", QUrl::FullyDecoded).toStdString();
        std::string path, error;
        if (!Maps_.PathOf(map->Name, path, error))
            return refuse(error);
        TMapReading reading = ReadRegisterMapFile(path);
        if (!reading.Ok()) {
            for (const TMapError& mapError : reading.Errors)
                error += (error.empty() ? "" : "\n") + mapError.Text();
            return refuse("карта " + map->Name + ":\n" + error);
        }
        map->Map = std::move(reading.Map);
    }
    const std::chrono::milliseconds budget = ProbeBudget(request.value("X-Prometheus-Scrape-Timeout-Seconds"));
    Cycles_.Probe(module, std::move(map), budget,
                  [this, connection = QPointer<THttpConnection>(connection), place,
                   reference = std::move(reference)](const TCycleOutcome& outcome, const TExceptionCounts& counts) {
                      if (!connection)
                          return;
                      Answer(connection, place, "probe", 200, TMetricsText::ContentType,
                             QByteArray::fromStdString(ProbePage(outcome, counts, reference ? &*reference : nullptr)));
                  });
}

std::string TExporterServer::HealthPage() const
{
    TMetricsText page;
    page.Family("korvel_exporter_build", TMetricType::Info, "The exporter's version and the Qt it runs on.");
    page.Sample(1, {{"version", KORVEL_VERSION}, {"qt_version", qVersion()}});
    page.Family("korvel_exporter_http_requests", TMetricType::Counter, "HTTP requests answered, by page and status.");
    for (const auto& [key, count] : Requests_)
        page.Sample(double(count), {{"page", key.first}, {"code", std::to_string(key.second)}});
    page.Family("korvel_exporter_http_connections", TMetricType::Gauge, "HTTP connections open.");
    page.Sample(Listener_->OpenConnections());
    page.Family("korvel_exporter_http_connections_closed", TMetricType::Counter,
                "HTTP connections closed or refused by the exporter's limits, by reason.");
    for (const THttpRefusal reason :
         {THttpRefusal::ConnectionLimit, THttpRefusal::TooLarge, THttpRefusal::Timeout, THttpRefusal::TooManyRequests})
        page.Sample(double(Listener_->Refused(reason)), {{"reason", RefusalWord(reason)}});
    page.Family("korvel_exporter_probes", TMetricType::Counter,
                "Probes answered, by how: their own cycle, one in flight shared, the last cycle within the minimum "
                "interval, or cut at the scrape's time.");
    for (const TProbeAnswer answer :
         {TProbeAnswer::Cycle, TProbeAnswer::Shared, TProbeAnswer::Interval, TProbeAnswer::Cut})
        page.Sample(double(Cycles_.Answers(answer)), {{"answer", AnswerWord(answer)}});
    page.Family("korvel_exporter_cycles", TMetricType::Counter, "Cycles started with a module.");
    page.Sample(double(Cycles_.CyclesStarted()));
    page.Family("korvel_exporter_cycles_running", TMetricType::Gauge, "Cycles with a module in flight.");
    page.Sample(double(Cycles_.Running()));
    page.Family("korvel_exporter_cycles_waiting", TMetricType::Gauge, "Cycles waiting for their turn.");
    page.Sample(double(Cycles_.Waiting()));
    page.Family("korvel_exporter_modules_remembered", TMetricType::Gauge,
                "Modules remembered between scrapes (for shared cycles and the minimum interval).");
    page.Sample(double(Cycles_.Remembered()));
    AddProcessMetrics(page);
    return page.Text();
}
