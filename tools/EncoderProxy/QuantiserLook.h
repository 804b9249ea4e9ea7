// Chooses the picture quantiser for a movie from a short look at it: the linear one gives the
// finer picture, the non-linear one reaches the coarser steps that a busy movie needs to keep to
// its share of the disc budget.
#pragma once

#include <vector>

#include "BitPlan.h"
#include "DvdWriter.h"
#include "EncoderTypes.h"

namespace qx::enc {

struct QuantiserLook {
    Quantiser quantiser = Quantiser::NonLinear;
    double linearDemand = 0; // bits a second the looked-at GOPs take at the linear quantiser's coarsest step
    int pictures = 0;        // pictures looked at
};

// Above this share of the picture rate at the coarsest linear step, the linear quantiser cannot
// hold the movie's average: the rate control needs room below its ceiling for the I pictures and
// for the harder scenes between the looked-at ones.
constexpr double kLinearDemandLimit = 0.7;

// Encodes one GOP at a few places spread over the movie (`seconds` long; 0 = unknown, then its
// start only) at the coarsest linear step and compares what it takes with the picture rate.
// `video` is the picture stream's index. A movie that cannot be looked at gets the non-linear
// quantiser, which keeps the size promise whatever the movie holds.
QuantiserLook LookAtMovie(const ConvertRequest& request, int video, double seconds);

// Encodes one GOP at a place every few seconds of the movie at a fixed step of `quantiser`, on
// the machine's cores; each place's complexity in the order of the movie. Places that cannot be
// read are left out; an unknown length (0) gives none.
std::vector<PlaceDifficulty> LookAtDifficulty(const ConvertRequest& request, int video, double seconds,
                                              Quantiser quantiser);

// The choice for a measured demand (bits a second at the coarsest linear step).
Quantiser ChooseQuantiser(double linearDemand);

} // namespace qx::enc
