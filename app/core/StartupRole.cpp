#include "app/core/StartupRole.h"

namespace vorn {

StartupRole DecideStartupRole(const QStringList& arguments) {
    if (arguments.size() < 2)
        return StartupRole::Main;
    const QString& first = arguments.at(1);
    if (first.compare(QLatin1String("/createprotocol"), Qt::CaseInsensitive) == 0)
        return StartupRole::RegisterProtocol;
    if (first == QLatin1String("--request-key"))
        return StartupRole::PrintRequestKey;
    if (first == QLatin1String("--version"))
        return StartupRole::PrintVersion;
    if (first == QLatin1String("--help"))
        return StartupRole::PrintHelp;
    return StartupRole::Main;
}

QString VersionText() {
    return QStringLiteral("vornclient " VORN_VERSION "\n");
}

QString HelpText() {
    return QStringLiteral(
        "Usage: vornclient [vornapp:<address> | /createprotocol | --request-key | --version |\n"
        "                   --help]\n"
        "\n"
        "Without an argument, or with a vornapp: link as a web page hands it over, the exam\n"
        "client starts (a second start while one runs leaves at once).\n"
        "\n"
        "  /createprotocol  register the client as the handler of vornapp: links for this user\n"
        "                   and exit (every start of the client also does this)\n"
        "  --request-key    print this installation's client key (signs the page's requests)\n"
        "                   and exit\n"
        "  --version        print the version and exit\n"
        "  --help           print this text and exit\n");
}

}  // namespace vorn
