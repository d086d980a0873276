// The file list with 10,000 rows: adding a folder of 10,000 supported files through AddPaths
// (the filter worker, its dialog and the answered add question included), and sorting the
// list by each column as a header click does. Targets: the add under 1 s, each sort under
// 100 ms.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/task_progress.h"
#include "ui/file_list_model.h"
#include "ui/file_list_view.h"

namespace chm::bench {
namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;
constexpr int kFiles = kFolders * kFilesPerFolder;

std::string g_root;
std::unique_ptr<VeFileListView> g_sort_list;  // goes before the application does

// 100 folders of 100 files whose numbers are shuffled over the folders, so that name order,
// folder order and the order of the walk all differ.
bool MakeFolder() {
    std::string pattern = "/tmp/chm-list-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) return false;
    g_root = pattern;
    std::vector<int> numbers(kFiles);
    for (int i = 0; i < kFiles; ++i) numbers[static_cast<size_t>(i)] = i;
    std::shuffle(numbers.begin(), numbers.end(), std::mt19937(7));
    static const char* const kTypes[] = {"mp3", "wav", "wma", "pcm"};
    for (int folder = 0; folder < kFolders; ++folder) {
        char name[64];
        std::snprintf(name, sizeof name, "/album %03d", folder);
        const std::string path = g_root + name;
        std::filesystem::create_directory(path);
        for (int file = 0; file < kFilesPerFolder; ++file) {
            const int number = numbers[static_cast<size_t>(folder * kFilesPerFolder + file)];
            std::snprintf(name, sizeof name, "/track %05d.%s", number, kTypes[number % 4]);
            if (std::FILE* created = std::fopen((path + name).c_str(), "w"))
                std::fclose(created);
            else
                return false;
        }
    }
    return true;
}

// Presses Yes on the add question as soon as it is up, and notes when that was.
class QuestionAnswerer {
public:
    explicit QuestionAnswerer(QElapsedTimer& clock) : clock_(clock) {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }
    qint64 AskedAt() const { return asked_at_; }

private:
    void Poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        timer_.stop();
        asked_at_ = clock_.nsecsElapsed();
        QTimer::singleShot(0, box, [box] { box->button(QMessageBox::Yes)->click(); });
    }

    QElapsedTimer& clock_;
    QTimer timer_;
    qint64 asked_at_ = -1;
};

void BM_AddFolderOf10000Files(benchmark::State& state) {
    double filter_seconds = 0;
    double question_seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto view = std::make_unique<VeFileListView>();
        view->resize(760, 420);
        view->show();
        QApplication::processEvents();
        QElapsedTimer clock;
        state.ResumeTiming();

        clock.start();
        QuestionAnswerer answerer(clock);
        const int added = view->AddPaths(std::vector<std::string>{g_root});
        const qint64 total = clock.nsecsElapsed();

        state.PauseTiming();
        if (added != kFiles) {
            state.SkipWithError("the folder was not added whole");
            break;
        }
        filter_seconds += static_cast<double>(answerer.AskedAt()) * 1e-9;
        question_seconds += static_cast<double>(total - answerer.AskedAt()) * 1e-9;
        view.reset();
        state.ResumeTiming();
    }
    // Up to the add question (filter and dialog), and from the question to the last row.
    state.counters["to_question_s"] = benchmark::Counter(filter_seconds, benchmark::Counter::kAvgIterations);
    state.counters["question_to_rows_s"] = benchmark::Counter(question_seconds, benchmark::Counter::kAvgIterations);
}

// One list of 10,000 rows for the sorts, its status cells in every state.
VeFileListView& SortList() {
    if (g_sort_list) return *g_sort_list;
    g_sort_list = [] {
        auto made = std::make_unique<VeFileListView>();
        made->resize(760, 420);
        made->show();
        std::vector<std::string> paths;
        for (const auto& folder : std::filesystem::directory_iterator(g_root))
            for (const auto& file : std::filesystem::directory_iterator(folder.path())) paths.push_back(file.path());
        made->Model().AddAccepted(paths);
        std::mt19937 random(11);
        for (int row = 0; row < made->Model().RowCount(); ++row) {
            TaskProgress& progress = made->Model().Item(row).Progress();
            const unsigned kind = random() % 5;
            if (kind == 0) continue;  // not started
            progress.Reset(2300);
            progress.Advance(random() % 2301);
            if (kind == 1) progress.Fail();
            if (kind == 2) progress.Cancel();
        }
        QApplication::processEvents();
        return made;
    }();
    return *g_sort_list;
}

void SortBy(benchmark::State& state, int column) {
    VeFileListView& view = SortList();
    const int other = (column + 1) % FileListModel::kColumnCount;
    for (auto _ : state) {
        // Every timed sort starts from the order of another column.
        state.PauseTiming();
        view.SortByColumn(other);
        state.ResumeTiming();
        view.SortByColumn(column);
        state.PauseTiming();
        QApplication::processEvents();  // the repaint after the sort, not timed
        state.ResumeTiming();
    }
}

void BM_SortByName(benchmark::State& state) { SortBy(state, FileListModel::kNameColumn); }
void BM_SortByLocation(benchmark::State& state) { SortBy(state, FileListModel::kLocationColumn); }
void BM_SortByStatus(benchmark::State& state) { SortBy(state, FileListModel::kStatusColumn); }

}  // namespace
}  // namespace chm::bench

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!chm::bench::MakeFolder()) {
        std::fprintf(stderr, "cannot make the folder of %d files\n", chm::bench::kFiles);
        return 1;
    }
    using namespace chm::bench;
    benchmark::RegisterBenchmark("BM_AddFolderOf10000Files", BM_AddFolderOf10000Files)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(5);
    for (auto* sort : {benchmark::RegisterBenchmark("BM_SortByName", BM_SortByName),
                       benchmark::RegisterBenchmark("BM_SortByLocation", BM_SortByLocation),
                       benchmark::RegisterBenchmark("BM_SortByStatus", BM_SortByStatus)})
        sort->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_sort_list.reset();
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
    return 0;
}
