// The check both end-to-end burn tests make of a burned image: libdvdread reads the same title sets
// and titles as from the folder it was made of, and libudfread finds the label and no layout fault.
#pragma once

#include "DvdReaderCheck.h"
#include "UdfReadSupport.h"

#include <gtest/gtest.h>

#include <string>

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

} // namespace burntest
