#include "panel/hub_list.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <hublink/discovery.h>
#include <hublink/port_fanout.h>
#include <hublink/port_url.h>

namespace panel {

namespace {

const std::string kControlPort = "ControlPort";
const std::string kPassword = "Password";

const std::string* portOf(const hublink::HubInfo& record) {
    const auto it = record.find(kControlPort);
    return it == record.end() ? nullptr : &it->second;
}

bool samePort(const hublink::HubInfo& a, const hublink::HubInfo& b) {
    const std::string* pa = portOf(a);
    const std::string* pb = portOf(b);
    if (pa == nullptr || pb == nullptr) return pa == pb;
    return *pa == *pb;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

std::vector<std::string> PanelHubSource::allPorts() {
    return hublink::getSerialPortList(hublink::Frontend::Panel);
}

std::vector<std::string> PanelHubSource::portsMatching(const std::string& text) {
    return withTypedTerminal(hublink::getSerialPortListWithComport(text), text, isTerminalDevice);
}

HubList PanelHubSource::query(const std::string& path) {
    hublink::PortAnswer answer = hublink::askHubs2(path);
    tellUnopened(answer.openFailure);
    return std::move(answer.records);
}

void tellUnopened(const std::optional<hublink::OpenFailure>& failure) {
    if (!failure) return;
    const std::string program = QCoreApplication::applicationName().toStdString();
    std::fprintf(stderr, "%s: %s\n", program.c_str(), hublink::openFailureText(*failure).c_str());
}

std::vector<std::string> withTypedTerminal(std::vector<std::string> listed, const std::string& typed,
                                           const std::function<bool(const std::string&)>& isTerminal) {
    if (contains(listed, typed)) return listed;
    // A hub on another host is asked by its URL as typed.
    const bool remote = hublink::isPortUrl(typed) && hublink::parsePortUrl(typed).url;
    if (remote || (!typed.empty() && typed.front() == '/' && isTerminal(typed))) listed.push_back(typed);
    return listed;
}

HubList queryPorts(HubSource& source, const std::vector<std::string>& ports) {
    HubList hubs;
    const auto found = hublink::askEachPort<HubList>(
        ports, [&source](const std::string& port) { return source.query(port); });
    for (const HubList& records : found) hubs.insert(hubs.end(), records.begin(), records.end());
    return hubs;
}

void carryPasswords(HubList& fresh, const HubList& old) {
    for (hublink::HubInfo& record : fresh) {
        for (const hublink::HubInfo& before : old) {
            if (!samePort(record, before)) continue;
            const auto pw = before.find(kPassword);
            if (pw != before.end()) {
                record[kPassword] = pw->second;
            } else {
                record.erase(kPassword);
            }
        }
    }
}

std::vector<std::string> refreshPorts(std::vector<std::string> candidates, const HubList& old) {
    for (const hublink::HubInfo& record : old) {
        const std::string* port = portOf(record);
        if (port != nullptr && !contains(candidates, *port)) candidates.push_back(*port);
    }
    return candidates;
}

HubList refreshHubs(HubSource& source, const HubList& old) {
    HubList fresh = queryPorts(source, refreshPorts(source.allPorts(), old));
    carryPasswords(fresh, old);
    return fresh;
}

int rowOfPort(const HubList& hubs, const std::string& comport) {
    for (std::size_t row = 0; row < hubs.size(); ++row) {
        const std::string* port = portOf(hubs[row]);
        if (port != nullptr && *port == comport) return static_cast<int>(row);
    }
    return -1;
}

}  // namespace panel
