// The Python package's private extension: the hub link's typed interface,
// firmware updates and the virtual hub. Every call that waits for a hub
// releases the GIL; failures become the package's exceptions (hubtools.errors).
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "firmware/firmware_file.h"
#include "firmware/update_flow.h"
#include "hublink/hub_session.h"
#include "sim/virtual_hub.h"

namespace py = pybind11;
using hublink::HubError;
using hublink::HubFault;

namespace {

const char* errorClassName(HubFault fault) {
    switch (fault) {
        case HubFault::notFound: return "HubNotFound";
        case HubFault::password: return "PasswordError";
        case HubFault::timeout: return "HubTimeout";
        case HubFault::invalidArgument: return "InvalidArgument";
        default: return "HubError";  // interrupted: the pending exception is raised instead
    }
}

[[noreturn]] void raise(const char* className, const std::string& message) {
    py::object cls = py::module_::import("hubtools.errors").attr(className);
    PyErr_SetObject(cls.ptr(), py::str(message).ptr());
    throw py::error_already_set();
}

void check(const HubError& error) {
    if (error.fault == HubFault::interrupted && PyErr_Occurred() != nullptr) throw py::error_already_set();
    if (!error.ok()) raise(errorClassName(error.fault), error.message);
}

// Runs the interpreter's signal handlers from a wait for the hub: a Ctrl-C
// stops the wait (its KeyboardInterrupt stays set for check()).
bool signalPending() {
    py::gil_scoped_acquire locked;
    return PyErr_CheckSignals() != 0;
}

template <typename T>
T valueOf(hublink::HubResult<T>&& result) {
    check(result.error);
    return std::move(result.value);
}

py::tuple detailsTuple(const hublink::HubDetails& d) {
    return py::make_tuple(d.port, d.ports, d.firmware, d.pid, d.uid, d.description,
                          py::tuple(py::cast(d.states)));
}

// Runs `work` without the GIL and raises what it returned.
template <typename Work>
auto released(Work work) {
    decltype(work()) result;
    {
        py::gil_scoped_release unlocked;
        result = work();
    }
    return result;
}

class Session {
public:
    Session(std::string name, std::optional<std::string> password) : hub_(std::move(name), std::move(password)) {
        hub_.setInterruptCheck(signalPending);
    }

    void hold() { check(released([&] { return hub_.hold(); })); }
    void release() {
        py::gil_scoped_release unlocked;
        hub_.release();
    }
    py::tuple details() { return detailsTuple(valueOf(released([&] { return hub_.details(); }))); }
    py::tuple states() { return py::tuple(py::cast(valueOf(released([&] { return hub_.states(); })))); }
    void setStates(const std::vector<std::pair<int, bool>>& changes) {
        check(released([&] { return hub_.setStates(changes); }));
    }
    void toggle(const std::vector<int>& ports) { check(released([&] { return hub_.toggle(ports); })); }
    void setAll(bool on) { check(released([&] { return hub_.setAll(on); })); }
    void saveStates() { check(released([&] { return hub_.saveStates(); })); }
    std::string description() { return valueOf(released([&] { return hub_.description(); })); }
    void setDescription(const std::string& text) { check(released([&] { return hub_.setDescription(text); })); }
    void changePassword(const std::string& p) { check(released([&] { return hub_.changePassword(p); })); }
    void restoreDefaults() { check(released([&] { return hub_.restoreDefaults(); })); }
    void reset() { check(released([&] { return hub_.reset(); })); }
    std::string port() { return valueOf(released([&] { return hub_.port(); })); }

private:
    hublink::HubSession hub_;
};

py::list discover() {
    const auto hubs = released([] { return hublink::discoverHubs(); });
    py::list out;
    for (const auto& hub : hubs) out.append(detailsTuple(hub));
    return out;
}

// A firmware update. `progress(stage, done, total)` is called with the GIL;
// an exception from it, or a pending Ctrl-C, stops the update at the next
// packet boundary. Returns (result, detail, left_in_loader, stage, stopped_by).
py::tuple flash(const std::string& port, const std::string& file, std::optional<std::string> password,
                std::optional<std::string> key, bool raw, std::optional<py::function> progress,
                bool inLoader) {
    const std::string useKey = key.value_or(firmware::defaultKey());
    if (!raw && !firmware::validKey(useKey)) raise("InvalidArgument", "a key has exactly 13 characters");
    firmware::UpdateImage loaded = firmware::loadUpdateImage(file, raw, useKey);
    if (!loaded.ok()) raise("FirmwareError", loaded.error);
    std::atomic<bool> cancel{false};
    std::optional<py::error_already_set> stopped;
    firmware::UpdateStep stage = firmware::UpdateStep::EnteringLoader;
    firmware::UpdateOptions options;
    options.cancel = &cancel;
    options.hubInLoader = inLoader;
    options.expectedProduct = loaded.productId;
    options.progress = [&](const firmware::UpdateProgress& p) {
        stage = p.step;
        py::gil_scoped_acquire locked;
        try {
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
            if (progress) (*progress)(firmware::stepName(p.step), p.written, p.total);
        } catch (py::error_already_set& e) {
            if (!stopped) stopped.emplace(std::move(e));
            cancel = true;
        }
    };
    const std::string pw = password.value_or(std::string(hublink::kDefaultPassword));
    firmware::UpdateOutcome outcome;
    {
        py::gil_scoped_release unlocked;
        outcome = firmware::runUpdate(port, pw, firmware::makeImage(std::move(loaded.image)), options);
    }
    // What stopped it (Ctrl-C, or the progress callback's exception) goes to
    // the caller with the hub's state, to be raised there.
    py::object why = stopped && !outcome.ok() ? stopped->value() : py::object(py::none());
    return py::make_tuple(outcome.result, outcome.detail, outcome.leftInLoader(),
                          firmware::stepName(stage), why);
}

sim::HubConfig hubConfig(int ports, const std::string& pid, const std::string& firmware, const std::string& uid,
                         const std::string& description, const std::string& password, std::uint32_t states,
                         bool wireTiming, bool record) {
    sim::HubConfig c;
    c.ports = ports;
    c.productId = pid;
    c.firmware = firmware;
    c.uid = uid;
    c.description = description;
    c.password = password;
    c.states = states;
    c.wireTiming = wireTiming;
    c.record = record;
    return c;
}

}  // namespace

PYBIND11_MODULE(_hubtools, m) {
    m.doc() = "The hub link of the Managed USB Hub tools (private: use the hubtools package).";
    py::class_<Session>(m, "Session")
        .def(py::init<std::string, std::optional<std::string>>(), py::arg("name"), py::arg("password"))
        .def("hold", &Session::hold)
        .def("release", &Session::release)
        .def("details", &Session::details)
        .def("states", &Session::states)
        .def("set_states", &Session::setStates)
        .def("toggle", &Session::toggle)
        .def("set_all", &Session::setAll)
        .def("save_states", &Session::saveStates)
        .def("description", &Session::description)
        .def("set_description", &Session::setDescription)
        .def("change_password", &Session::changePassword)
        .def("restore_defaults", &Session::restoreDefaults)
        .def("reset", &Session::reset)
        .def("port", &Session::port);
    m.def("discover", &discover);
    m.def("flash", &flash, py::arg("port"), py::arg("file"), py::arg("password"), py::arg("key"),
          py::arg("raw"), py::arg("progress"), py::arg("in_loader"));
    m.def("scramble", [](py::bytes image, const std::string& key) {
        const std::string in = image;
        const firmware::Bytes out = firmware::scramble(firmware::Bytes(in.begin(), in.end()), key);
        return py::bytes(reinterpret_cast<const char*>(out.data()), out.size());
    });
    m.def("default_key", &firmware::defaultKey);

    py::class_<sim::VirtualHub>(m, "VirtualHub")
        .def(py::init([](int ports, const std::string& pid, const std::string& firmware, const std::string& uid,
                         const std::string& description, const std::string& password, std::uint32_t states,
                         bool wireTiming, bool record) {
                 try {
                     return new sim::VirtualHub(hubConfig(ports, pid, firmware, uid, description, password,
                                                          states, wireTiming, record));
                 } catch (const std::invalid_argument& e) {
                     raise("InvalidArgument", e.what());
                 }
             }),
             py::arg("ports"), py::arg("pid"), py::arg("firmware"), py::arg("uid"), py::arg("description"),
             py::arg("password"), py::arg("states"), py::arg("wire_timing"), py::arg("record"))
        .def_property_readonly("path", &sim::VirtualHub::path)
        .def("received", &sim::VirtualHub::received)
        .def("clear_received", &sim::VirtualHub::clearReceived)
        .def("states", &sim::VirtualHub::states)
        .def("flash_image", [](const sim::VirtualHub& hub) {
            const auto image = hub.flashImage();
            return py::bytes(reinterpret_cast<const char*>(image.data()), image.size());
        })
        .def("vanish", &sim::VirtualHub::vanish, py::call_guard<py::gil_scoped_release>());
}
