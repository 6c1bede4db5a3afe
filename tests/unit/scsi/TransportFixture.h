// What every transport test starts from: a scripted ASPI manager in the entry points, recorded
// event calls, no messages yet, adapter 0.
#ifndef M770B_TESTS_UNIT_SCSI_TRANSPORTFIXTURE_H
#define M770B_TESTS_UNIT_SCSI_TRANSPORTFIXTURE_H

#include <gtest/gtest.h>

#include "scsi/RequestBlocks.h"
#include "tests/unit/fakes/FakeAspiManager.h"
#include "tests/unit/fakes/RecordingEventCalls.h"
#include "tests/unit/fakes/RecordingMessages.h"

class TransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRecordedMessages();
        HostAdapterId = 0;
    }

    FakeAspiManager aspi;
    RecordingEventCalls events;
};

#endif
