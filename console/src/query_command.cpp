// /Q: every candidate control port, or the one port named.
#include <cstdio>
#include <string>
#include <vector>

#include "command_steps.h"
#include "console/commands.h"
#include "hublink/discovery.h"
#include "hublink/hub_query.h"
#include "unopened_ports.h"

namespace console {

namespace {

using cmd::kFailure;
using cmd::kSuccess;
using cmd::say;

enum class QueryForm { AllPlain, AllCompact, OneHub };

QueryForm queryForm(const Invocation& inv) {
    if (inv.command != "/Q" || !inv.arg3.empty()) return QueryForm::OneHub;
    if (inv.arg2.empty()) return QueryForm::AllPlain;
    if (upperAscii(inv.arg2) == "-F") return QueryForm::AllCompact;
    return QueryForm::OneHub;
}

int listHubs() {
    const std::vector<hublink::HubInfo> hubs = cmd::searchHubs();
    for (const hublink::HubInfo& hub : hubs) say(hublink::parseHubInfo(hub), kSuccess);
    return say(std::to_string(hubs.size()) + " Managed USB Hub(s) Found.", kSuccess);
}

std::string fourDigitCount(std::size_t count) {
    char text[24];
    std::snprintf(text, sizeof text, "%04zu", count);
    return text;
}

int listHubsCompact() {
    const std::vector<hublink::HubInfo> hubs = cmd::searchHubs();
    std::string line = fourDigitCount(hubs.size());
    for (const hublink::HubInfo& hub : hubs)
        line += "," + cmd::recordField(hub, "Port_Name").value_or("");
    return say(line, kSuccess);
}

// The one-hub form: no option prints the info line, "-F" (exact case) the
// formatted one.
int queryOneHub(const Invocation& inv) {
    const bool formatted = inv.arg2 == "-F";
    if (!inv.arg3.empty() || (!inv.arg2.empty() && !formatted))
        return say(cmd::kInvalidCommand, kFailure);
    const auto path = cmd::lookupPort(inv.COM_Name, cmd::Resolver::Query);
    if (!path) return say(cmd::kInvalidSerialPort, kFailure);
    const hublink::QueryResult result = cmd::queryHub(*path);
    if (result.status != "OK") return say("Error Query Hub!", kSuccess);
    return say(formatted ? hublink::parseHubInfoFormatted(result.record)
                         : hublink::parseHubInfo(result.record),
               kSuccess);
}

}  // namespace

int doQuery(const Invocation& inv) {
    switch (queryForm(inv)) {
        case QueryForm::AllPlain: return listHubs();
        case QueryForm::AllCompact: return listHubsCompact();
        case QueryForm::OneHub: break;
    }
    return queryOneHub(inv);
}

}  // namespace console
