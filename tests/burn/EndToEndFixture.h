// What both end-to-end burn tests share: one folder authored by the real engine per program, a
// burn core of the given kind with its log lines and boxes recorded, virtual writers listed through
// it, and the check of a burned image: libdvdread reads the same title sets and titles as from the
// folder it was made of, and libudfread finds the label and no layout fault.
#pragma once

#include "BurnSupport.h"
#include "DiscImageSupport.h"
#include "DvdReaderCheck.h"
#include "FixtureSupport.h"
#include "PromptService.h"
#include "ScriptedPromptService.h"
#include "UdfReadSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace burntest {

inline void ExpectImageOfFolder(const std::string& image, const std::string& folder, const std::string& label) {
    const DvdReadReport fromImage = ReadDvdFolder(image);
    ASSERT_TRUE(fromImage.opened) << image;
    const DvdReadReport fromFolder = ReadDvdFolder(folder);
    EXPECT_EQ(fromImage.titleSets, fromFolder.titleSets);
    EXPECT_EQ(fromImage.titles.size(), fromFolder.titles.size());
    UdfImage udf(image);
    ASSERT_TRUE(udf.ok());
    EXPECT_EQ(udf.VolumeId(), label);
    EXPECT_TRUE(udf.LayoutFaults().empty());
}

// The core is made in SetUp (not yet initialised: a derived SetUp does that, after whatever the
// core needs first); burns of the test's folder carry `label`.
template <class Core> class EndToEndFixture : public ::testing::Test {
protected:
    EndToEndFixture(std::string label, std::string folder) : m_label(std::move(label)), m_folder(std::move(folder)) {}

    static void SetUpTestSuite() {
        s_temp = std::make_unique<TempFolder>();
        s_video = AuthorFolder(s_temp->path() + "/movie", {1}, 40) + "/";
    }
    static void TearDownTestSuite() { s_temp.reset(); }

    void SetUp() override {
        EnsureApp();
        qx::SetPrompts(&m_prompts);
        m_core = std::make_unique<Core>([this](const std::string& line) {
            m_log.Add(line);
            if (m_onLog) {
                m_onLog(line);
            }
        });
        m_dir = FreshFolder(m_folder);
    }
    void TearDown() override {
        m_core.reset();
        qx::SetPrompts(nullptr);
    }
    // Writes writers.ini with `writers` and lists them through the core.
    std::vector<std::string> List(const std::vector<VirtualWriter>& writers) {
        WriteWriters(writers);
        std::vector<std::string> list;
        m_core->ListWriters(nullptr, [&](std::vector<std::string> l) { list = std::move(l); });
        return list;
    }
    // The core's log lines so far, shown when a test fails.
    std::string Trail() const {
        std::string trail;
        for (const std::string& line : m_log.All()) {
            trail += line;
        }
        return trail;
    }
    // Answers Yes to the stop question as soon as the read-back after the write has begun, read
    // back at 1 s a megabyte so the question comes well before its end.
    void StopWhenVerifying() {
        setenv("QX_VERIFY_TEST_PACE_MS", "1000", 1);
        m_core->onProgressLine = [this](const ProgressLine& line) {
            if (!m_stopAsked && line.text.rfind("Verifying Data; ", 0) == 0) {
                m_stopAsked = true;
                m_prompts.QueueAnswer(qx::PromptAnswer::Yes);
                m_core->RequestStopBurn();
            }
        };
    }
    void ExpectPlayableImage(const std::string& image) const {
        ExpectImageOfFolder(image, s_temp->path() + "/movie", m_label);
    }

    static inline std::unique_ptr<TempFolder> s_temp;
    static inline std::string s_video;
    const std::string m_label;
    const std::string m_folder;
    qx::ScriptedPromptService m_prompts;
    bool m_stopAsked = false; // StopWhenVerifying asked
    Lines m_log;
    std::function<void(const std::string&)> m_onLog; // sees each log line on the thread that logs it
    std::unique_ptr<Core> m_core;
    std::string m_dir;
};

} // namespace burntest
