// SPDX-License-Identifier: GPL-3.0-or-later
// How long a window's event loop goes without answering the X server: a _NET_WM_PING round trip
// to the window every 10 ms.
//
//   stall_probe WINDOW_ID [MAX_SECONDS [TRACE_FILE]]
//
// The probe sends the window a WM_PROTOCOLS client message with _NET_WM_PING (as a window manager
// does to find out whether a client still responds). Qt's xcb backend answers it from the GUI
// thread while it handles its X events, by sending the message back to the root window; the probe
// listens on the root window for the answer. One ping is outstanding at a time: the next goes
// 10 ms after the previous one was sent, or as soon as the answer comes if it took longer. So a
// stall of the event loop shows as one long round trip.
//
// Writes "answered" to standard error at the first answer. Runs until SIGINT or SIGTERM, or
// MAX_SECONDS (default 300, at most 3600), then prints key=value lines: pings answered, the
// longest, 99th percentile and median round trips in ms, how many took longer than a 60 Hz frame
// (16.7 ms), and how long the ping still unanswered at the end had waited (counted in the longest).
// With TRACE_FILE, every round trip is written there too: ms since the start, and ms taken.
#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

xcb_atom_t internAtom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return atom;
}

// Whether the window lists protocol in WM_PROTOCOLS.
bool advertises(xcb_connection_t* c, xcb_window_t w, xcb_atom_t protocols, xcb_atom_t protocol)
{
    xcb_get_property_reply_t* r =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, protocols, XCB_ATOM_ATOM, 0, 64), nullptr);
    bool found = false;
    if (r != nullptr) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(r));
        const int n = xcb_get_property_value_length(r) / int(sizeof(xcb_atom_t));
        found = std::find(atoms, atoms + n, protocol) != atoms + n;
    }
    std::free(r);
    return found;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: stall_probe WINDOW_ID [MAX_SECONDS [TRACE_FILE]]\n");
        return 2;
    }
    const auto window = xcb_window_t(std::strtoul(argv[1], nullptr, 0));
    const double maxSeconds = argc > 2 ? std::clamp(std::atof(argv[2]), 1.0, 3600.0) : 300.0;
    constexpr double kIntervalMs = 10.0;

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "stall_probe: cannot open the display\n");
        return 1;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    const xcb_window_t root = it.data->root;
    const xcb_atom_t wmProtocols = internAtom(c, "WM_PROTOCOLS");
    const xcb_atom_t netWmPing = internAtom(c, "_NET_WM_PING");
    if (!advertises(c, window, wmProtocols, netWmPing)) {
        std::fprintf(stderr, "stall_probe: window 0x%x does not list _NET_WM_PING in WM_PROTOCOLS\n", window);
        return 1;
    }

    // The answers are sent to the root window, for clients that listen there for structure
    // (Qt 6) or substructure (older Qt) notifications.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);

    std::FILE* trace = argc > 3 ? std::fopen(argv[3], "w") : nullptr;
    const double startMs = nowMs();
    // The trace's times are from here; this is where on CLOCK_MONOTONIC, to set it beside others.
    if (trace != nullptr)
        std::fprintf(trace, "# start %.3f ms CLOCK_MONOTONIC\n", startMs);
    std::vector<double> trips;
    std::uint32_t serial = 0;
    bool outstanding = false;
    double sentAt = 0;
    double nextSend = nowMs();
    const double endAt = nowMs() + maxSeconds * 1e3;
    const int fd = xcb_get_file_descriptor(c);

    while (!g_stop && nowMs() < endAt && !xcb_connection_has_error(c)) {
        const double t = nowMs();
        if (!outstanding && t >= nextSend) {
            xcb_client_message_event_t ev{};
            ev.response_type = XCB_CLIENT_MESSAGE;
            ev.format = 32;
            ev.window = window;
            ev.type = wmProtocols;
            ev.data.data32[0] = netWmPing;
            ev.data.data32[1] = XCB_CURRENT_TIME;
            ev.data.data32[2] = window;
            ev.data.data32[3] = ++serial;  // echoed back: tells this ping's answer from others
            // No event mask: a client message goes to the client that made the window.
            xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
            xcb_flush(c);
            sentAt = nowMs();
            outstanding = true;
            nextSend = sentAt + kIntervalMs;
        }
        // Wait for an answer, or for the next ping's time.
        const double wait = outstanding ? 5.0 : std::max(0.0, nextSend - nowMs());
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, int(std::ceil(wait)));
        while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
            if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
                if (m->window == root && m->type == wmProtocols && m->data.data32[0] == netWmPing
                    && m->data.data32[3] == serial && outstanding) {
                    trips.push_back(nowMs() - sentAt);
                    outstanding = false;
                    if (trace != nullptr)
                        std::fprintf(trace, "%.1f %.2f\n", sentAt - startMs, trips.back());
                    if (trips.size() == 1) {
                        std::fprintf(stderr, "answered\n");  // the first answer: the probe works
                        std::fflush(stderr);
                    }
                }
            }
            std::free(e);
        }
    }
    const double pending = outstanding ? nowMs() - sentAt : 0.0;
    xcb_disconnect(c);

    std::vector<double> sorted = trips;
    std::sort(sorted.begin(), sorted.end());
    const auto pct = [&](double q) {
        return sorted.empty() ? 0.0 : sorted[std::min(sorted.size() - 1, std::size_t(q * double(sorted.size())))];
    };
    const double longest = std::max(sorted.empty() ? 0.0 : sorted.back(), pending);
    const auto overFrame = std::count_if(sorted.begin(), sorted.end(), [](double ms) { return ms > 1000.0 / 60.0; });
    std::printf("pings=%zu\nmax_ms=%.1f\np99_ms=%.1f\nmedian_ms=%.2f\nover_frame=%ld\nunanswered_ms=%.1f\n",
                trips.size(), longest, pct(0.99), pct(0.5), long(overFrame), pending);
    if (trace != nullptr)
        std::fclose(trace);
    return 0;
}
