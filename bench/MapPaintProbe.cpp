// Frame costs of the disk map (not a test), with Google Benchmark on the offscreen platform: a folder
// of 121 children (120 folders and files plus "Other") with a third of them holding flagged items,
// drawn at the main window's size of 1130 x 820.
//   map-paint-bench [--benchmark_* options]
// BM_MapNewFolder: flags, layout and the cached pixmap for a folder just shown (a drill or new results).
// BM_MapFrame: one paint from the cache with a hovered tile (pointer movement, tooltips).
// BM_MapResizeFrame: one paint during a window drag (the cache stretched to the new size).
// BM_MapResizeSettled: layout and pixmap at a new size once the drag rests.
#include "Kestrune/Screens/TreemapView.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

namespace {

struct Sample {
    TreemapEngine::Node folder;
    std::shared_ptr<const ReclaimIndex> flags;
};

Sample sample() {
    auto folder = std::make_shared<DiskNode>();
    folder->url = "/home/user";
    folder->isDirectory = true;
    std::vector<CategoryResult> results{{CategoryKind::userCaches, {}}, {CategoryKind::downloads, {}}};
    for (int i = 0; i < 120; ++i) {
        auto child = std::make_shared<DiskNode>();
        child->url = "/home/user/item-" + std::to_string(i) + (i % 3 ? ".bin" : "");
        // A long tail, as real folders have: a few large children and many small ones.
        child->bytes = std::int64_t(40e9 / std::pow(i + 1, 1.1));
        child->isDirectory = i % 3 == 0;
        if (child->isDirectory) {
            auto inner = std::make_shared<DiskNode>();
            inner->url = child->url + "/inner";
            inner->bytes = child->bytes;
            child->children.push_back(inner);
            results[std::size_t(i % 2)].items.emplace_back(inner->url, child->bytes / (2 + i % 5),
                                                           Dates::now());
        }
        folder->bytes += child->bytes;
        folder->children.push_back(child);
    }
    auto other = std::make_shared<DiskNode>();
    other->url = "/";
    other->isAggregate = true;
    other->bytes = 900'000'000;
    folder->bytes += other->bytes;
    folder->children.push_back(other);
    return {folder, std::make_shared<const ReclaimIndex>(results)};
}

void BM_MapNewFolder(benchmark::State& state) {
    const Sample s = sample();
    TreemapView view;
    view.resize(1130, 820);
    view.relayoutNow();
    for (auto _ : state) {
        view.setFolder(nullptr, nullptr);
        view.setFolder(s.folder, s.flags);
    }
    state.counters["tiles"] = double(view.tiles().size());
}
BENCHMARK(BM_MapNewFolder)->Unit(benchmark::kMillisecond);

void paintOnce(TreemapView& view, QImage& frame) {
    QPainter painter(&frame);
    view.render(&painter);
}

void BM_MapFrame(benchmark::State& state) {
    const Sample s = sample();
    TreemapView view;
    view.resize(1130, 820);
    view.setFolder(s.folder, s.flags);
    view.relayoutNow();
    QImage frame(view.size(), QImage::Format_ARGB32_Premultiplied);
    const QPointF over = view.tileRect(3).center();
    QMouseEvent move(QEvent::MouseMove, over, view.mapToGlobal(over), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&view, &move);
    for (auto _ : state) {
        paintOnce(view, frame);
    }
}
BENCHMARK(BM_MapFrame)->Unit(benchmark::kMillisecond);

void BM_MapResizeFrame(benchmark::State& state) {
    const Sample s = sample();
    TreemapView view;
    view.resize(1130, 820);
    view.setFolder(s.folder, s.flags);
    view.relayoutNow();
    QImage frame(QSize(1200, 900), QImage::Format_ARGB32_Premultiplied);
    int step = 0;
    for (auto _ : state) {
        view.resize(1000 + step % 130, 720 + step % 100);
        ++step;
        paintOnce(view, frame);
    }
}
BENCHMARK(BM_MapResizeFrame)->Unit(benchmark::kMillisecond);

void BM_MapResizeSettled(benchmark::State& state) {
    const Sample s = sample();
    TreemapView view;
    view.setFolder(s.folder, s.flags);
    QImage frame(QSize(1200, 900), QImage::Format_ARGB32_Premultiplied);
    int step = 0;
    for (auto _ : state) {
        view.resize(1000 + step % 130, 720 + step % 100);
        ++step;
        view.relayoutNow();
        paintOnce(view, frame);
    }
}
BENCHMARK(BM_MapResizeSettled)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(9.5);
    QApplication::setFont(font);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
