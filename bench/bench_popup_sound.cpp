// How long a non-waiting popup and a sound action keep the action chain:
// both hand their work to a thread of their own and must return within 1 ms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "actions/popup_action.h"
#include "actions/run_control.h"
#include "actions/sound_action.h"
#include "platform/message_box.h"
#include "platform/sound_player.h"

namespace {

using namespace quorvel;

// A message box that is closed as soon as it is shown.
class InstantBox : public platform::MessageBox {
public:
    platform::MessageAnswer Show(const std::string&, const std::string&,
                                 const platform::MessageStyle&) override {
        return platform::MessageAnswer::Ok;
    }
    void Notify(const std::string&, const std::string&, const platform::MessageStyle&) override {}
};

FileList SomeFiles() {
    FileList files;
    for (int i = 0; i < 20; ++i) {
        files.emplace_back("/var/log/app/file" + std::to_string(i) + ".log", DateTime(45000.5),
                           1000 + i, FileKind::Changed);
    }
    return files;
}

template <typename Run>
void Measure(benchmark::State& state, Run run) {
    double worst = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        run();
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        worst = std::max(worst, seconds);
        state.SetIterationTime(seconds);
    }
    state.counters["worst_ms"] = worst * 1000.0;
}

void BM_PopupWithoutWaiting(benchmark::State& state) {
    platform::SetMessageBox(std::make_shared<InstantBox>());
    PopupAction popup;
    popup.Params().ParseLine("Message=Changed:%( %Name %Size%)");
    FileList files = SomeFiles();
    PlainRunControl control;
    Measure(state, [&] { popup.Execute(files, DateTime(45000.6), control); });
    platform::SetMessageBox(nullptr);
}
BENCHMARK(BM_PopupWithoutWaiting)->UseManualTime()->Iterations(2000);

void BM_SoundOnTheDefaultDevice(benchmark::State& state) {
    SoundAction sound;
    sound.Params().ParseLine("WaveFile=/nonexistent/%Name.wav");
    FileList files = SomeFiles();
    PlainRunControl control;
    Measure(state, [&] { sound.Execute(files, DateTime(45000.6), control); });
}
BENCHMARK(BM_SoundOnTheDefaultDevice)->UseManualTime()->Iterations(2000);

}  // namespace
