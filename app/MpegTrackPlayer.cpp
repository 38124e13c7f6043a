#include "app/MpegTrackPlayer.h"

#include "app/TrackTags.h"
#include "engine/MPEGPlayer.h"

#include "output/SystemWaveOut.h"
#include "output/WaveOBuffer.h"

namespace zumo {
namespace {

class MpegTrackPlayer : public TrackPlayer {
public:
    void Open(const std::string& path) override {
        // The title as the window shows it, from the tags or the file name.
        title = DisplayTitle(ReadTrackTags(path), path);
        player.Open(path);
    }
    bool AttachOutput() override {
        // A file without a first frame plays nothing: no device is opened
        // for it (the track ends at once).
        if (!player.HasFrame()) return true;
        // The sound server shows the track's title as the stream's name.
        std::unique_ptr<OBuffer> buffer = NewWaveOBuffer(player.Mode(), player.WhichChannels(), player.Frequency(),
                                                         player.Layer(), player.Version(),
                                                         std::make_unique<SystemWaveOut>(title));
        if (!buffer) return false;
        player.SetOutput(std::move(buffer));
        return true;
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
    std::string title;
};

} // namespace

PlayerFactory MpegPlayerFactory() {
    return [] { return std::unique_ptr<TrackPlayer>(new MpegTrackPlayer()); };
}

} // namespace zumo
