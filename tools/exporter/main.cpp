// korvel-exporter: the modules and the devices behind them as Prometheus metrics, each module asked
// when Prometheus scrapes it.
#include "DescriptorLimit.h"
#include "ExporterOptions.h"
#include "ExporterServer.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Every module in flight and every HTTP client holds a descriptor.
    RaiseDescriptorLimit();
    QCoreApplication app(argc, argv);
    TExporterOptions options;
    std::string error;
    if (!ParseExporterOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "korvel-exporter: %s\nСправка: korvel-exporter --help\n", error.c_str());
        return 2;
    }
    if (options.Help) {
        std::fputs(ExporterHelp().c_str(), stdout);
        return 0;
    }
    if (options.Version) {
        std::printf("korvel-exporter %s\n", KORVEL_VERSION);
        return 0;
    }
    TExporterServer server(options.Settings);
    if (!server.Listen(options.Address, options.Port, error)) {
        std::fprintf(stderr, "korvel-exporter: не удалось принимать запросы на %s:%u: %s\n",
                     options.Address.toString().toUtf8().constData(), unsigned(options.Port), error.c_str());
        return 1;
    }
    // The first line says where, so that a script that asked for port 0 learns which one it got.
    std::printf("korvel-exporter %s listening on %s:%u\n", KORVEL_VERSION,
                options.Address.toString().toUtf8().constData(), unsigned(server.Port()));
    std::fflush(stdout);
    return app.exec();
}
