// The look at a movie before it is converted: a few pictures at places spread over it are encoded
// at fixed steps. It chooses the picture quantiser (the linear one gives the finer picture, the
// non-linear one reaches the coarser steps a busy movie needs to keep to its share of the disc
// budget) and measures the difficulty of each place for the BitPlan.
#pragma once

#include <optional>
#include <vector>

#include "BitPlan.h"
#include "DvdWriter.h"
#include "EncoderTypes.h"

namespace qx::enc {

struct QuantiserLook {
    Quantiser quantiser = Quantiser::NonLinear;
    double linearDemand = 0; // bits a second the looked-at GOPs take at the linear quantiser's coarsest step
    int pictures = 0;        // pictures looked at for the quantiser
    // Each place's difficulty in the order of the movie, when asked for; empty when the movie's
    // length is unknown or a place could not be read (no plan: the one-pass rate control).
    std::vector<PlaceDifficulty> places;
};

// Above this share of the picture rate at the coarsest linear step, the linear quantiser cannot
// hold the movie's average: the rate control needs room below its ceiling for the I pictures and
// for the harder scenes between the looked-at ones.
constexpr double kLinearDemandLimit = 0.7;

// Looks at the movie (`seconds` long; 0 = unknown, then at its start only) on the machine's cores.
// `video` is the picture stream's index. The quantiser comes from one GOP at each of a few places
// encoded at the coarsest linear step, unless `forced`; a movie that cannot be looked at gets the
// non-linear quantiser, which keeps the size promise whatever the movie holds. With `difficulty`,
// a few pictures every few seconds are also encoded at a fixed step, and more where two
// neighbouring places differ much (a scene change), so each place's complexity is known.
QuantiserLook LookAtMovie(const ConvertRequest& request, int video, double seconds, bool difficulty = false,
                          std::optional<Quantiser> forced = std::nullopt);

// The choice for a measured demand (bits a second at the coarsest linear step).
Quantiser ChooseQuantiser(double linearDemand);

} // namespace qx::enc
