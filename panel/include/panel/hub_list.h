// Finding hubs for the window: which ports a search asks, querying them, and
// the refresh after a change, which carries remembered passwords over.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <hublink/hub_query.h>

namespace panel {

using HubList = std::vector<hublink::HubInfo>;

// Where a window program gets candidate ports and hub records from.
class HubSource {
public:
    virtual ~HubSource() = default;
    // Candidates of an automatic search.
    virtual std::vector<std::string> allPorts() = 0;
    // Candidates of a search by the text the user typed.
    virtual std::vector<std::string> portsMatching(const std::string& text) = 0;
    // The records found on one port (none or one). Called for several ports
    // at once, from other threads than the caller's. A port that cannot be
    // opened for a reason worth telling is told (tellUnopened).
    virtual HubList query(const std::string& path) = 0;
};

// Names on standard error a port that could not be opened, with the reason:
// "<program>: <port>: <reason>", the program being the application's name.
// Nothing for none. Safe from any thread.
void tellUnopened(const std::optional<hublink::OpenFailure>& failure);

// hubpanel: USB serial adapters from the registry, then the configured hubs
// on other hosts (hublink/remotes.h), QueryHubs2.
class PanelHubSource : public HubSource {
public:
    std::vector<std::string> allPorts() override;
    std::vector<std::string> portsMatching(const std::string& text) override;
    HubList query(const std::string& path) override;
};

// The registry's matches for `typed`, plus `typed` itself when it is a full
// path of a terminal device the registry does not list (a pseudo-terminal of
// a virtual hub or of a bridged remote hub) or a port URL (a hub exported on
// another host).
std::vector<std::string> withTypedTerminal(std::vector<std::string> listed, const std::string& typed,
                                           const std::function<bool(const std::string&)>& isTerminal);

// Whether `path` names a terminal device that can be opened now, or a
// device that cannot be opened for a reason worth telling (so a search asks
// it and tells why).
bool isTerminalDevice(const std::string& path);

// Queries the ports together and collects the records in port order.
HubList queryPorts(HubSource& source, const std::vector<std::string>& ports);

// Every new record whose "ControlPort" an old record shares (two records
// without one count as equal) takes that old record's "Password", or loses
// its own when the old record has none.
void carryPasswords(HubList& fresh, const HubList& old);

// Ports a refresh re-reads: the automatic candidates, then the ports of the
// old list they lack, so hubs reached by a typed path stay listed.
std::vector<std::string> refreshPorts(std::vector<std::string> candidates, const HubList& old);

// The refresh step: re-read and carry the remembered passwords over.
HubList refreshHubs(HubSource& source, const HubList& old);

// Row of the record on `comport`, or -1.
int rowOfPort(const HubList& hubs, const std::string& comport);

}  // namespace panel
