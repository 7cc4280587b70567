#include "panel/window_state.h"

#include <iostream>

#include "hublink/protocol.h"

namespace panel {

namespace {

std::string valueOr(const hublink::HubInfo& record, const std::string& key) {
    const auto it = record.find(key);
    return it == record.end() ? std::string() : it->second;
}

}  // namespace

std::string withoutLineEnds(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
}

std::string printedRecord(const hublink::HubInfo& record) {
    std::string out = "[";
    for (const auto& [key, value] : record) {
        if (out.size() > 1) out += ", ";
        const std::string shown = key == "Password" ? std::string(hublink::kPasswordShown) : value;
        out += "\"" + key + "\": \"" + shown + "\"";
    }
    return out + "]";
}

bool WindowState::takeSelection(const hublink::HubInfo& record, int row) {
    for (const std::string& key : requiredFields) {
        if (record.find(key) == record.end()) {
            std::cout << "⚠️ Missing required field in row: " << printedRecord(record) << std::endl;
            return false;
        }
    }
    selectRow = row;
    selectComport = record.at("ControlPort");
    selectPortsperhub = record.at("PortsperHub");
    selectOn = record.at("On");
    selectOff = record.at("Off");
    selectFw = record.at("FW");
    selectPassword = record.at("Password");
    selectState64 = record.at("State64");
    selectPID = valueOr(record, "PID");
    selectUID = valueOr(record, "UID");
    selectDescription = valueOr(record, "Description");
    return true;
}

void WindowState::clearSelection() {
    selectRow = 0;
    for (std::string* field : {&selectComport, &selectPortsperhub, &selectOn, &selectOff, &selectFw,
                               &selectPassword, &selectState64, &selectPID, &selectUID,
                               &selectDescription}) {
        field->clear();
    }
}

}  // namespace panel
