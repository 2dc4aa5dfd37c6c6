#pragma once

#include <QtGlobal>

#include <array>
#include <vector>

// A Gaussian mixture over RGB colours with full covariances, as the colour models of
// C. Rother, V. Kolmogorov, A. Blake, "GrabCut: Interactive Foreground Extraction using
// Iterated Graph Cuts", SIGGRAPH 2004: started by the binary splitting of M. Orchard and
// C. Bouman, "Color Quantization of Images", IEEE Trans. Signal Processing 39(12), 1991,
// which, unlike k-means from random centres, gives the same components for the same colours
// every time; then refitted from hard assignments of each colour to its likeliest component.
class ColourMixture
{
public:
    static constexpr int maxComponents = 5;

    // Sums of the colours assigned to each component, to refit from.
    struct Moments
    {
        std::array<double, maxComponents> count{};
        std::array<std::array<double, 3>, maxComponents> sum{};
        std::array<std::array<double, 6>, maxComponents> square{}; // rr rg rb gg gb bb

        void add(int component, const float *colour, double weight = 1.0);
    };

    bool isEmpty() const { return componentCount == 0; }

    // Splits the colours (3 floats each) into up to maxComponents clusters and fits one
    // component to each; fewer for few colours. `weights` may be empty (all 1).
    void fitBySplitting(const std::vector<float> &colours, const std::vector<float> &weights = {});
    // Fits the components to the moments; a component without colours is dropped.
    void fit(const Moments &moments);

    // -log of the mixture's density at `colour`, and the component likeliest to have made it.
    double cost(const float *colour, int *component = nullptr) const;

private:
    struct Component
    {
        double logWeight = 0;   // log of weight / sqrt((2 pi)^3 det)
        double mean[3] = {};
        double inverse[6] = {}; // the covariance's inverse, rr rg rb gg gb bb
    };

    std::array<Component, maxComponents> components{};
    int componentCount = 0;
};
