#pragma once
#include <string>
#include <vector>

// The bench corpus of the import pass: 300 covers named by catalogue number, written once
// with the reference libraries into bench/corpus/pass/, the same bytes on every machine.
namespace benchcorpus {

inline constexpr int PortraitJpegs = 200;  // 1000 x 1500, quality 85
inline constexpr int LandscapeJpegs = 50;  // 1920 x 1080, quality 85
inline constexpr int Pngs = 30;            // 800 x 1200, every third RGBA
inline constexpr int Gifs = 10;            // 600 x 900
inline constexpr int Tiffs = 10;           // 1000 x 1500, LZW
inline constexpr int Files = PortraitJpegs + LandscapeJpegs + Pngs + Gifs + Tiffs;
inline constexpr int CatalogueRecords = 5000;

// The corpus folder (ending in "/"), made on first use.
const std::string& PassCorpusFolder();
// Every picture of the corpus, full paths, in name order.
std::vector<std::string> PassCorpusFiles();

// A catalogue made once beside the corpus through isql (the schema of scripts/catalogue.sql,
// number n stored under the record key 2n + 1, no index on "num"); "" with reason on failure.
std::string MadeCatalogue(const std::string& name, int records, std::string& reason);
// The catalogue of the corpus: numbers 1 to CatalogueRecords.
const std::string& CatalogueFile(std::string& reason);
// The tool beside the bench programs (BUILD/images-by-id), or IBI_PROGRAM.
std::string ProgramPath();

// The median of the values, the mean of the middle two for an even count; 0 for none.
double Median(std::vector<double> values);

} // namespace benchcorpus
