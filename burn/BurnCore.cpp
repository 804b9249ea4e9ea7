#include "BurnCore.h"

const char* BurnOutcomeName(BurnOutcome outcome) {
    switch (outcome) {
    case BurnOutcome::Done:
        return "done";
    case BurnOutcome::Refused:
        return "refused";
    case BurnOutcome::Failed:
        return "failed";
    case BurnOutcome::Cancelled:
        return "cancelled";
    }
    return "failed";
}
