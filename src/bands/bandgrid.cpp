#include "bands/bandgrid.h"

#include <cmath>
#include <cstdio>

#include "bands/bandreader.h"
#include "support/numbers.h"

namespace tessera {

namespace {

// A number as GDAL's utilities read it back exactly.
std::string Exact(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

double PixelArea(const Georeference& place) {
    const auto& t = place.transform;
    return std::fabs(t[1] * t[5] - t[2] * t[4]);
}

bool SameSystem(const Georeference& first, const Georeference& second) {
    return GeoreferenceDifference(first, second) != "their coordinate systems differ";
}

bool NorthUp(const Georeference& place) {
    return place.transform[2] == 0 && place.transform[4] == 0;
}

}  // namespace

GridPlan PlanOntoGrid(ImageSize size, const std::optional<Georeference>& place) {
    GridPlan plan;
    if (!place) return plan;
    plan.active = true;
    plan.size = size;
    plan.place = place;
    plan.gridOwnPlace = place;
    return plan;
}

bool CanBringOntoGrid(const std::optional<Georeference>& band,
                      const std::optional<Georeference>& grid) {
    return band && grid && SameSystem(*band, *grid) &&
           !GeoreferenceDifference(*band, *grid).empty() && NorthUp(*band) && NorthUp(*grid);
}

Result<BandFacts> FactsOf(const std::string& path, int rasterBand) {
    using R = Result<BandFacts>;
    Result<std::shared_ptr<RasterSource>> source = RasterSource::Open(path, rasterBand);
    if (!source) return R::Failure(source.message);
    BandFacts facts;
    facts.path = path;
    facts.rasterBand = rasterBand;
    facts.size = (*source.value)->Size();
    facts.place = (*source.value)->Georef();
    return R::Of(std::move(facts));
}

std::optional<RasterView> GridPlan::ViewOf(const BandFacts& band) const {
    if (!active || band.rasterBand == 0) return std::nullopt;
    if (!band.place || !gridOwnPlace || !SameSystem(*band.place, *gridOwnPlace) ||
        GeoreferenceDifference(*band.place, *gridOwnPlace).empty())
        return gridView;
    // Another grid of the same system: resampled onto this one, as gdalwarp makes it.
    const auto& t = place->transform;
    RasterView view;
    view.tool = RasterView::Tool::Warp;
    view.arguments = {"-te",     Exact(t[0]),
                      Exact(t[3] + size.lines * t[5]),
                      Exact(t[0] + size.columns * t[1]),
                      Exact(t[3]),
                      "-tr",     Exact(t[1]),
                      Exact(std::fabs(t[5])),
                      "-r",      "near"};
    return view;
}

Result<GridPlan> PlanGrid(const std::vector<BandFacts>& bands, const GridChoice& choice) {
    using R = Result<GridPlan>;
    GridPlan plan;
    if (bands.empty()) return R::Of(plan);
    const bool windowed = choice.window || choice.windowPixels;
    bool allPlaced = true, gridsDiffer = false;
    for (const BandFacts& band : bands) {
        allPlaced = allPlaced && band.place.has_value() && band.rasterBand > 0;
        if (band.place && bands[0].place && SameSystem(*band.place, *bands[0].place) &&
            !GeoreferenceDifference(*band.place, *bands[0].place).empty())
            gridsDiffer = true;
    }
    if (!windowed && choice.gridBand == 0 && !(allPlaced && gridsDiffer)) return R::Of(plan);

    // The grid band: the one chosen, or the first of the finest.
    int grid = choice.gridBand;
    if (grid != 0 && (grid < 1 || grid > static_cast<int>(bands.size())))
        return R::Failure("--grid " + std::to_string(grid) + ": there is no band " +
                          std::to_string(grid) + " of " + std::to_string(bands.size()));
    if (grid == 0) {
        grid = 1;
        for (size_t b = 0; b < bands.size(); ++b)
            if (bands[b].place && bands[grid - 1].place &&
                PixelArea(*bands[b].place) < PixelArea(*bands[grid - 1].place))
                grid = static_cast<int>(b) + 1;
    }
    if (choice.window)
        for (const BandFacts& band : bands)
            if (band.rasterBand == 0)
                return R::Failure("--window is in map coordinates, and " + band.path +
                                  " lies on no map: give --window-pixels instead");
    const BandFacts& gridFacts = bands[grid - 1];
    if (choice.gridBand != 0 && !gridFacts.place)
        return R::Failure(RasterRefusal(gridFacts.path, gridFacts.rasterBand,
                                        "it lies on no map, so no band can be brought onto its grid"));
    if (gridFacts.rasterBand == 0 && choice.gridBand != 0)
        return R::Failure("The window and the grid apply to rasters GDAL reads: " + gridFacts.path +
                          " is not one");
    plan.active = true;
    plan.gridBand = grid;
    plan.gridOwnPlace = gridFacts.place;
    plan.size = gridFacts.size;
    plan.place = gridFacts.place;
    const auto refuse = [&](const std::string& why) {
        return R::Failure(RasterRefusal(gridFacts.path, gridFacts.rasterBand, why));
    };
    if (choice.window) {
        const auto [xmin, ymin, xmax, ymax] = *choice.window;
        if (!gridFacts.place) return refuse("it lies on no map, so --window cannot cut it");
        if (!(xmin < xmax && ymin < ymax))
            return refuse("the window " + NumberText(xmin) + "," + NumberText(ymin) + "," +
                          NumberText(xmax) + "," + NumberText(ymax) + " is empty");
        RasterView view;
        view.arguments = {"-projwin", Exact(xmin), Exact(ymax), Exact(xmax), Exact(ymin)};
        plan.gridView = view;
    } else if (choice.windowPixels) {
        const auto [line, column, lines, columns] = *choice.windowPixels;
        if (lines < 1 || columns < 1)
            return refuse("the window of " + std::to_string(lines) + " lines x " +
                          std::to_string(columns) + " columns is empty");
        RasterView view;
        view.arguments = {"-srcwin", std::to_string(column), std::to_string(line),
                          std::to_string(columns), std::to_string(lines)};
        plan.gridView = view;
    }
    if (plan.gridView && gridFacts.rasterBand > 0) {
        // The window as gdal_translate cuts it, which must lie inside the scene.
        Result<std::shared_ptr<RasterSource>> cut =
            RasterSource::Open(gridFacts.path, gridFacts.rasterBand, &*plan.gridView);
        const std::string outside = "the window lies outside its scene of " +
                                    std::to_string(gridFacts.size.lines) + " lines x " +
                                    std::to_string(gridFacts.size.columns) + " columns";
        if (!cut) return refuse(outside);
        plan.size = (*cut.value)->Size();
        plan.place = (*cut.value)->Georef();
        int64_t line = 0, column = 0;
        if (choice.windowPixels) {
            line = (*choice.windowPixels)[0];
            column = (*choice.windowPixels)[1];
        } else if (plan.place && gridFacts.place) {
            const auto& t = gridFacts.place->transform;
            const auto& c = plan.place->transform;
            column = std::llround((c[0] - t[0]) / t[1]);
            line = std::llround((c[3] - t[3]) / t[5]);
        }
        if (line < 0 || column < 0 || line + plan.size.lines > gridFacts.size.lines ||
            column + plan.size.columns > gridFacts.size.columns || plan.size.lines < 1 ||
            plan.size.columns < 1)
            return refuse(outside);
    }
    if (plan.place) {
        const auto& t = plan.place->transform;
        if ((t[2] != 0 || t[4] != 0) && gridsDiffer)
            return refuse("its grid is rotated, and no band can be brought onto a rotated grid");
    }
    for (const BandFacts& band : bands) plan.views.push_back(plan.ViewOf(band));
    plan.views[grid - 1] = plan.gridView;
    return R::Of(std::move(plan));
}

}  // namespace tessera
