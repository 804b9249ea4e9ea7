// The burning library's test fixture: the library started, virtual writers discovered and opened
// by number, writes of a tree, and recorders of the discovery and burn callbacks.
#pragma once

#include "BurnSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace burntest {

struct Found {
    std::vector<SCSI_DEVICE_ADDRESS> addresses;
    static void Callback(long event, void* context, void* p1, void*) {
        if (event == CN_DEVICE_FOUND) {
            static_cast<Found*>(context)->addresses.push_back(*static_cast<SCSI_DEVICE_ADDRESS*>(p1));
        }
    }
};

struct Events {
    std::atomic<int64_t> done{-1};
    std::atomic<int64_t> total{0};
    std::vector<long> order;
    static void Callback(long event, void* context, void* p1, void* p2) {
        auto* self = static_cast<Events*>(context);
        self->order.push_back(event);
        if (event == CN_CDVD_WRITE_PROGRESS) {
            self->total = *static_cast<int64_t*>(p1);
            self->done = *static_cast<int64_t*>(p2);
        }
    }
};

class StarBurnLibrary : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(StarBurn_UpStartEx(nullptr, 0), EN_SUCCESS); }
    void TearDown() override {
        StarBurn_Destroy(&m_handle);
        StarBurn_DownShut();
    }
    // Discovers and opens virtual writer `number` (1, 2, ...).
    CDVD_BURNER_GRABBER Open(int number, STARBURN_CALLBACK callback = nullptr, void* context = nullptr) {
        Found found;
        EXPECT_EQ(StarBurn_FindDevice(5, 0, Found::Callback, &found), EN_SUCCESS);
        StarBurn_Destroy(&m_handle);
        for (const SCSI_DEVICE_ADDRESS& a : found.addresses) {
            if (a.port == kStarBurnVirtualPort && a.target == number) {
                EXPECT_EQ(StarBurn_CdvdBurnerGrabber_Create(&m_handle, m_text, sizeof m_text, &m_status, callback,
                                                            context, a.port, a.bus, a.target, a.lun, 1),
                          EN_SUCCESS)
                    << m_text;
            }
        }
        return m_handle;
    }
    long Write(StarBurnTree* tree) {
        return StarBurn_CdvdBurnerGrabber_TrackAtOnceFromTree(m_handle, m_text, sizeof m_text, &m_status, tree, true,
                                                              false, false, true, 5);
    }
    CDVD_BURNER_GRABBER m_handle = nullptr;
    char m_text[1024] = {};
    unsigned long m_status = 0;
};

} // namespace burntest
