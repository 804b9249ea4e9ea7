#include "JobTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

qx::PromptAnswer RecordingObserver::Ask(const qx::PromptBox& box) {
    boxes.push_back(box.text);
    for (const auto& rule : m_rules) {
        if (box.text.find(rule.first) != std::string::npos) {
            return rule.second;
        }
    }
    return qx::DefaultAnswer(box.buttons);
}

void RecordingObserver::ConvertBegin(int row, const std::string& title) {
    events.push_back("begin " + std::to_string(row) + " " + title);
}

void RecordingObserver::ConvertResult(int row, bool converted) {
    events.push_back("result " + std::to_string(row) + (converted ? " converted" : " failed"));
}

void RecordingObserver::MovieStatus(int row, const std::string& status) {
    events.push_back("status " + std::to_string(row) + " " + status);
}

void RecordingObserver::StepBegin(JobStep s, const std::string& title) {
    step = s;
    events.push_back("step " + title);
    if (act && actAtBegin && step == actAt) {
        auto once = std::move(act);
        act = nullptr;
        once();
    }
}

void RecordingObserver::StepEnd(JobStep) {
    step = JobStep::None;
    events.push_back("step end");
}

void RecordingObserver::Progress(int percent, const std::string& text) {
    progress.push_back(std::to_string(percent) + " " + text);
    if (act && step == actAt) {
        auto once = std::move(act);
        act = nullptr;
        once();
    }
}

void RecordingObserver::Finished(const JobOutcome& o) {
    events.push_back("finished");
    finished = true;
    outcome = o;
}

size_t RecordingObserver::LogCount(const std::string& part) const {
    size_t n = 0;
    for (const std::string& line : log) {
        n += line.find(part) != std::string::npos ? 1 : 0;
    }
    return n;
}

void JobTest::SetUp() {
    qxtest::EnsureApp();
    companion = FreshFolder("companion");
    MakeCompanionFolder(companion);
    work = FreshFolder("work");
    movies = FreshFolder("movies");
    auto enc = std::make_unique<FakeEncoder>();
    auto author = std::make_unique<FakeAuthoring>();
    auto buildIn = std::make_unique<FakeCore>();
    auto pow = std::make_unique<FakePower>();
    encoder = enc.get();
    authoring = author.get();
    core = buildIn.get();
    power = pow.get();
    core->writers = {"V1 Virtual DVD-R"};
    core->info.DiscIsInserted = core->info.CanSupport = core->info.isEmpty = true;
    core->info.totalSpaceMB = 4482;
    parts.encoder = std::move(enc);
    parts.authoring = std::move(author);
    parts.buildInCore = std::move(buildIn);
    parts.power = std::move(pow);
    parts.companionFolder = companion;
    std::string error;
    ASSERT_TRUE(encoder->Start(&error));
    job = std::make_unique<DiscJob>(parts, observer);
}

CSourceInfo JobTest::Movie(const std::string& name, double seconds) {
    CSourceInfo info;
    info.strPath = movies + name;
    WriteFile(info.strPath, 100);
    info.dDuration = seconds;
    info.dEndTime = seconds;
    info.nWidth = 320;
    info.nHeight = 240;
    info.fAspect = 4.0f / 3;
    encoder->movies[name].duration = seconds;
    return info;
}

DiscJobParams JobTest::TwoMovies() {
    DiscJobParams spec;
    spec.movies = {Movie("one.rm"), Movie("two.rm")};
    spec.workFolder = work;
    spec.tv = TvStandard::Pal;
    return spec;
}

bool JobTest::Run(DiscJobParams spec) {
    observer.finished = false;
    if (!job->Start(std::move(spec))) {
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (!observer.finished && clock.elapsed() < 120000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_TRUE(observer.finished) << "the job did not end within two minutes";
    return true;
}
