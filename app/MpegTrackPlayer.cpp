#include "app/MpegTrackPlayer.h"

#include "engine/MPEGPlayer.h"

#if ZUMO_HAVE_WAVEOUT
#include "output/WaveOBuffer.h"
#endif

namespace zumo {
namespace {

class MpegTrackPlayer : public TrackPlayer {
public:
    void Open(const std::string& path) override { player.Open(path); }
    bool AttachOutput() override {
        // A file without a first frame plays nothing: no device is opened
        // for it (the track ends at once).
        if (!player.HasFrame()) return true;
#if ZUMO_HAVE_WAVEOUT
        std::unique_ptr<OBuffer> buffer = NewWaveOBuffer(player.Mode(), player.WhichChannels(), player.Frequency(),
                                                         player.Layer(), player.Version());
        if (!buffer) return false;
        player.SetOutput(std::move(buffer));
        return true;
#else
        return false; // built without a sound device
#endif
    }
    int64_t TotalSeconds() override { return player.TotalSeconds(); }
    int32_t Bitrate() override { return player.Bitrate(); }
    void Play() override { player.Play(); }
    void Pause() override { player.Pause(); }
    void Resume() override { player.Resume(); }
    void Stop() override { player.Stop(); }
    uint32_t ElapsedSeconds() override { return player.ElapsedSeconds(); }
    bool Playing() override { return player.Playing(); }

private:
    MPEGPlayer player;
};

} // namespace

PlayerFactory MpegPlayerFactory() {
    return [] { return std::unique_ptr<TrackPlayer>(new MpegTrackPlayer()); };
}

} // namespace zumo
