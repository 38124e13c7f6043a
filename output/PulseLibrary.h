#pragma once

// The sound server's client library, loaded when a client is first opened
// rather than linked: a program that only decodes to a file never pays for
// loading it and the two dozen libraries it brings along, and the player
// still runs (through ALSA) where the library is not installed. Its headers
// give the types and signatures; only the functions come from the loaded
// library.
#include <pulse/pulseaudio.h>

namespace zumo {

// Every function of the library that PulseWaveOut calls.
#define ZUMO_PULSE_FUNCTIONS(F)                                                                                        \
    F(pa_context_connect)                                                                                              \
    F(pa_context_disconnect)                                                                                           \
    F(pa_context_errno)                                                                                                \
    F(pa_context_get_state)                                                                                            \
    F(pa_context_new_with_proplist)                                                                                    \
    F(pa_context_rttime_new)                                                                                           \
    F(pa_context_rttime_restart)                                                                                       \
    F(pa_context_set_state_callback)                                                                                   \
    F(pa_context_unref)                                                                                                \
    F(pa_gettimeofday)                                                                                                 \
    F(pa_operation_unref)                                                                                              \
    F(pa_proplist_free)                                                                                                \
    F(pa_proplist_new)                                                                                                 \
    F(pa_proplist_sets)                                                                                                \
    F(pa_rtclock_now)                                                                                                  \
    F(pa_sample_spec_valid)                                                                                            \
    F(pa_strerror)                                                                                                     \
    F(pa_stream_connect_playback)                                                                                      \
    F(pa_stream_cork)                                                                                                  \
    F(pa_stream_disconnect)                                                                                            \
    F(pa_stream_get_context)                                                                                           \
    F(pa_stream_get_state)                                                                                             \
    F(pa_stream_get_timing_info)                                                                                       \
    F(pa_stream_get_underflow_index)                                                                                   \
    F(pa_stream_is_suspended)                                                                                          \
    F(pa_stream_new_with_proplist)                                                                                     \
    F(pa_stream_set_state_callback)                                                                                    \
    F(pa_stream_set_suspended_callback)                                                                                \
    F(pa_stream_set_underflow_callback)                                                                                \
    F(pa_stream_set_write_callback)                                                                                    \
    F(pa_stream_unref)                                                                                                 \
    F(pa_stream_update_timing_info)                                                                                    \
    F(pa_stream_writable_size)                                                                                         \
    F(pa_stream_write)                                                                                                 \
    F(pa_threaded_mainloop_free)                                                                                       \
    F(pa_threaded_mainloop_get_api)                                                                                    \
    F(pa_threaded_mainloop_lock)                                                                                       \
    F(pa_threaded_mainloop_new)                                                                                        \
    F(pa_threaded_mainloop_set_name)                                                                                   \
    F(pa_threaded_mainloop_start)                                                                                      \
    F(pa_threaded_mainloop_stop)                                                                                       \
    F(pa_threaded_mainloop_unlock)                                                                                     \
    F(pa_timeval_add)                                                                                                  \
    F(pa_timeval_cmp)                                                                                                  \
    F(pa_timeval_diff)                                                                                                 \
    F(pa_usec_to_bytes)                                                                                                \
    F(pa_utf8_filter)                                                                                                  \
    F(pa_xfree)

// The library's functions, under their own names: pulse().pa_stream_write(...).
struct PulseLibrary {
#define ZUMO_PULSE_POINTER(name) decltype(&::name) name = nullptr;
    ZUMO_PULSE_FUNCTIONS(ZUMO_PULSE_POINTER)
#undef ZUMO_PULSE_POINTER
};

// Loads the library the first time it is called (once per process, whatever
// the thread); false when the library or one of its functions is missing.
// The library stays loaded until the program ends.
bool PulseLibraryLoaded();

// The loaded functions: only after PulseLibraryLoaded() has returned true.
const PulseLibrary& pulse();

} // namespace zumo
