// Any bytes as the JSON argument of `hubctl /J`, through dispatch, every
// handler and the reply writer. The hubs live in memory and take their replies
// and record texts from the input's tail, so every reply class and texts that
// are not UTF-8 are reached without a port.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json_commands.h"

namespace {

using namespace console::jcmd;

struct NoDevices final : hublink::DeviceRegistry {
    std::vector<std::string> calloutDevices() const override { return {}; }
};

class MemoryHubs final : public HubAccess {
public:
    explicit MemoryHubs(std::string_view noise) : noise_(noise) {}

    hublink::PortLookup getCOMPort(const std::string& name) override {
        return hublink::getCOMPort(name, NoDevices());
    }
    hublink::PortLookup Get_COM_Port(const std::string& name) override {
        return hublink::Get_COM_Port(name, NoDevices());
    }
    std::vector<hublink::HubInfo> searchHubs() override { return {record("/dev/a"), record("/dev/b")}; }
    hublink::QueryResult queryHub(const std::string& path) override {
        if (path.empty()) return {"Query Error!", {}};
        return {"OK", record(path)};
    }
    hublink::Exchange sendCommand(const std::string&, const std::string& line) override {
        switch (noise_.size() % 4) {
            case 0: return {"OK", "G" + line.substr(std::min<std::size_t>(line.size(), 10), 8)};
            case 1: return {"OK", "E01"};
            case 2: return {"No", ""};
            default: return {"OK", noise_};
        }
    }
    hublink::UidReading GetUID_M031(const std::string&) override { return {"OK", noise_}; }

private:
    hublink::HubInfo record(const std::string& path) const {
        return {{"Port_Name", path}, {"PID", "0AB3"},         {"nPorts", "04"},
                {"FW_Ver", "V04"},   {"UID", noise_},         {"Description", noise_},
                {"Port_States", "F4,FF,FF,FF"}};
    }
    std::string noise_;
};

void require(bool condition) {
    if (!condition) std::abort();
}

bool serializable(const Reply& reply) {
    try {
        (void)reply.dump();
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

// What was printed must be the reply itself (slashes escaped, so it reads
// back to the same object) or one of the fixed failure texts.
void checkOutput(const Answer& answer, const std::string& out) {
    require(answer.reply.is_object() && answer.reply.begin().key() == "RES" &&
            answer.reply["RES"].is_string());
    if (!serializable(answer.reply)) {
        require(out.empty() ? answer.form.onFailure == OnFailure::Nothing
                            : out.starts_with("Error ") ||
                                  out == "{\"RES\": \"Error serializing JSON\"}\n");
        return;
    }
    require(Reply::parse(out, nullptr, /*allow_exceptions=*/false) == answer.reply);
    if (answer.form.layout == Layout::Compact) require(out.find('\n') == out.size() - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    MemoryHubs hubs(input.substr(size - std::min<std::size_t>(size, 12)));
    const Answer answer = jsonAnswer("/J", input, hubs);
    checkOutput(answer, writeReply(answer.reply, answer.form));
    return 0;
}
