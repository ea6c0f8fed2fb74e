// Industry classification table. The built-in rows are added in their order
// into a fixed open-addressing table of 1499 slots probed linearly from
// code mod 1499; a later row for a code already present overwrites it, which
// is how the few repeated codes in the list end up with their final names.
// Nothing is removed, so a lookup can stop at the first empty slot. The table
// is filled once at start and only read afterwards.
#include "gics.h"

#include <array>
#include <cstring>

#include "dalloc.h"
#include "log.h"

static const char kSrc[] = "src/gics";

namespace {

constexpr int kGicsSlots = 1499;
constexpr int kGicsMaxProbes = 1500;

// Module state.
struct gics_state {
  gics_entry* slots;  // kGicsSlots entries, code 0 = empty; null before init
};

gics_state g;

struct gics_row {
  uint32_t code;
  const char* name;
  const char* short_name;
};

// The classification as it is shipped, in load order. Names are kept exactly
// as they were written, odd ones included ("(REITs)", "and Services").
constexpr gics_row kRows[] = {
    {0x10000000, "Energy", "Energy"},
    {0x10100000, "Energy", "Energy"},
    {0x10101000, "Services", nullptr},
    {0x10101010, "Oil and Gas Drilling", nullptr},
    {0x10101020, "Oil and Gas Equipment and Services", nullptr},
    {0x10102000, "Consumable Fuels", nullptr},
    {0x10102010, "Integrated Oil and Gas", nullptr},
    {0x10102020, "Oil and Gas Exploration and Production", nullptr},
    {0x10102030, "Oil and Gas Refining and Marketing", nullptr},
    {0x10102040, "Oil and Gas Storage and Transportation", nullptr},
    {0x10102050, "Coal and Consumable Fuels", nullptr},

    {0x15000000, "Materials", "Materials"},
    {0x15100000, "Materials", "Materials"},
    {0x15101000, "Chemicals", nullptr},
    {0x15101010, "Commodity Chemicals", nullptr},
    {0x15101020, "Diversified Chemicals", nullptr},
    {0x15101030, "Fertilizers and Agricultural Chemicals", nullptr},
    {0x15101040, "Industrial Gases", nullptr},
    {0x15101050, "Specialty Chemicals", nullptr},
    {0x15102000, "Materials", nullptr},
    {0x15102010, "Construction Materials", nullptr},
    {0x15103000, "Packaging", nullptr},
    {0x15103010, "Metal and Glass Containers", nullptr},
    {0x15103020, "Paper Packaging", nullptr},
    {0x15104000, "Metals and Mining", nullptr},
    {0x15104010, "Aluminum", nullptr},
    {0x15104020, "Diversified Metals and Mining", nullptr},
    {0x15104030, "Gold", nullptr},
    {0x15104040, "Precious Metals and Minerals", nullptr},
    {0x15104050, "Steel", nullptr},
    {0x15105000, "Paper and Forest Products", nullptr},
    {0x15105010, "Forest Products", nullptr},
    {0x15105020, "Paper Products", nullptr},

    {0x20000000, "Industrials", "Industrials"},
    {0x20100000, "Capital Goods", "Capital Goods"},
    {0x20101000, "Aerospace and Defense", nullptr},
    {0x20101010, "Aerospace and Defense", nullptr},
    {0x20102000, "Building Products", nullptr},
    {0x20102010, "Building Products", nullptr},
    {0x20103000, "Engineering", nullptr},
    {0x20103010, "Construction and Engineering", nullptr},
    {0x20104000, "Electrical Equipment", nullptr},
    {0x20104010, "Electrical Components and Equipment", nullptr},
    {0x20104020, "Heavy Electrical Equipment", nullptr},
    {0x20105000, "Conglomerates", nullptr},
    {0x20105010, "Industrial Conglomerates", nullptr},
    {0x20106000, "Machinery", nullptr},
    {0x20106010, "Construction and Farm Machinery and Heavy Trucks", nullptr},
    {0x20106020, "Industrial Machinery", nullptr},
    {0x20107000, "Trading Companies and Distributors", nullptr},
    {0x20107010, "Trading Companies and Distributors", nullptr},
    {0x20000000, "Industrials", "Industrials"},
    {0x20200000, "Commercial and Professional Services", "Commercial Services"},
    {0x20201000, "Commercial Services and Supplies", nullptr},
    {0x20201010, "Commercial Printing", nullptr},
    {0x20201020, "Data Processing Services", nullptr},
    {0x20201030, "Diversified Commercial and Professional Services", nullptr},
    {0x20201040, "Human Resource and Employment Services", nullptr},
    {0x20201050, "Environmental and Facilities Services", nullptr},
    {0x20201060, "Office Services and Supplies", nullptr},
    {0x20201070, "Diversified Support Services", nullptr},
    {0x20201080, "Security and Alarm Services", nullptr},
    {0x20202000, "Professional Services", nullptr},
    {0x20202010, "Human Resources & Employment Services", nullptr},
    {0x20202020, "Research and Consulting Services", nullptr},
    {0x20300000, "Transportation", "Transportation"},
    {0x20301000, "Logistics", nullptr},
    {0x20301010, "Air Freight and Logistics", nullptr},
    {0x20302000, "Airlines", nullptr},
    {0x20302010, "Airlines", nullptr},
    {0x20303000, "Marine", nullptr},
    {0x20303010, "Marine", nullptr},
    {0x20304000, "Road and Rail", nullptr},
    {0x20304010, "Railroads", nullptr},
    {0x20304020, "Trucking", nullptr},
    {0x20305000, "Infrastructure", nullptr},
    {0x20305010, "Airport Services", nullptr},
    {0x20305020, "Highways and Railtracks", nullptr},
    {0x20305030, "Marine Ports and Services", nullptr},

    {0x25000000, "Consumer Discretionary", "Consumer Discr"},
    {0x25100000, "Automobiles and Components", "Automobiles and Components"},
    {0x25101000, "Auto Components", nullptr},
    {0x25101010, "Auto Parts and Equipment", nullptr},
    {0x25101020, "Tires and Rubber", nullptr},
    {0x25102000, "Automobiles", nullptr},
    {0x25102010, "Automobile Manufacturers", nullptr},
    {0x25102020, "Motorcycle Manufacturers", nullptr},
    {0x25200000, "Consumer Durables and Apparel", "Consumer Dur"},
    {0x25201000, "Household Durables", nullptr},
    {0x25201010, "Consumer Electronics", nullptr},
    {0x25201020, "Home Furnishings", nullptr},
    {0x25201030, "Homebuilding", nullptr},
    {0x25201040, "Household Appliances", nullptr},
    {0x25201050, "Housewares and Specialties", nullptr},
    {0x25202000, "Products", nullptr},
    {0x25202010, "Leisure Products", nullptr},
    {0x25202020, "Photographic Products", nullptr},
    {0x25203000, "Luxury Goods", nullptr},
    {0x25203010, "Apparel, Accessories and Luxury Goods", nullptr},
    {0x25203020, "Footwear", nullptr},
    {0x25203030, "Textiles", nullptr},
    {0x25300000, "Consumer Services", "Consumer Services"},
    {0x25301000, "Hotels, Restaurants and Leisure", nullptr},
    {0x25301010, "Casinos and Gaming", nullptr},
    {0x25301020, "Hotels, Resorts and Cruise Lines", nullptr},
    {0x25301030, "Leisure Facilities", nullptr},
    {0x25301040, "Restaurants", nullptr},
    {0x25302000, "Diversified Consumer Services", nullptr},
    {0x25302010, "Education Services", nullptr},
    {0x25302020, "Specialized Consumer Services", nullptr},
    {0x25400000, "Media", "Media"},
    {0x25401000, "Media", nullptr},
    {0x25401010, "Advertising", nullptr},
    {0x25401020, "Broadcasting", nullptr},
    {0x25401025, "Cable and Satellite", nullptr},
    {0x25401030, "Movies and Entertainment", nullptr},
    {0x25401040, "Publishing", nullptr},
    {0x25500000, "Retailing", "Retailing"},
    {0x25501000, "Distributors", nullptr},
    {0x25501010, "Distributors", nullptr},
    {0x25502000, "Retail", nullptr},
    {0x25502010, "Catalog Retail", nullptr},
    {0x25502020, "Internet Retail", nullptr},
    {0x25503000, "Multiline Retail", nullptr},
    {0x25503010, "Department Stores", nullptr},
    {0x25503020, "General Merchandise Stores", nullptr},
    {0x25504000, "Specialty Retail", nullptr},
    {0x25504010, "Apparel Retail", nullptr},
    {0x25504020, "Computer and Electronics Retail", nullptr},
    {0x25504030, "Home Improvement Retail", nullptr},
    {0x25504040, "Specialty Stores", nullptr},
    {0x25504050, "Automotive Retail", nullptr},
    {0x25504060, "Homefurnishing Retail", nullptr},

    {0x30000000, "Consumer Staples", "Consumer Staples"},
    {0x30100000, "Food and Staples Retailing", "Food & Staples Retail"},
    {0x30101000, "Retailing", nullptr},
    {0x30101010, "Drug Retail", nullptr},
    {0x30101020, "Food Distributors", nullptr},
    {0x30101030, "Food Retail", nullptr},
    {0x30101040, "Hypermarkets and Super Centers", nullptr},
    {0x30200000, "Food, Beverage and Tobacco", "Food, Beverage & Tobacco"},
    {0x30201000, "Beverages", nullptr},
    {0x30201010, "Brewers", nullptr},
    {0x30201020, "Distillers and Vintners", nullptr},
    {0x30201030, "Soft Drinks", nullptr},
    {0x30202000, "Food Products", nullptr},
    {0x30202010, "Agricultural Products", nullptr},
    {0x30202020, "Meat, Poultry and Fish", nullptr},
    {0x30202030, "Packaged Foods and Meats", nullptr},
    {0x30203000, "Tobacco", nullptr},
    {0x30203010, "Tobacco", nullptr},
    {0x30300000, "Household and Personal Products", "Household & Personal"},
    {0x30301000, "Household Products", nullptr},
    {0x30301010, "Household Products", nullptr},
    {0x30302000, "Personal Products", nullptr},
    {0x30302010, "Personal Products", nullptr},

    {0x35000000, "Health Care", "Health Care"},
    {0x35100000, "Health Care Equipment and Services", "Health Care Equip & Services"},
    {0x35101000, "Health Care Equipment and Supplies", nullptr},
    {0x35101010, "Health Care Equipment", nullptr},
    {0x35101020, "Health Care Supplies", nullptr},
    {0x35102000, "and Services", nullptr},
    {0x35102010, "Health Care Distributors", nullptr},
    {0x35102015, "Health Care Services", nullptr},
    {0x35102020, "Health Care Facilities", nullptr},
    {0x35102030, "Managed Health Care", nullptr},
    {0x35103000, "Technology", nullptr},
    {0x35103010, "Health Care Technology", nullptr},
    {0x35200000, "Pharmaceuticals, Biotech and Life Sciences", "Pharma, Biotech & Life"},
    {0x35201000, "Biotechnology", nullptr},
    {0x35201010, "Biotechnology", nullptr},
    {0x35202000, "Pharmaceuticals", nullptr},
    {0x35202010, "Pharmaceuticals", nullptr},
    {0x35203000, "Life Sciences Tools and Services", nullptr},
    {0x35203010, "Life Sciences Tools and Services", nullptr},

    {0x40000000, "Financials", "Financials"},
    {0x40100000, "Banks", "Banks"},
    {0x40101000, "Commercial Banks", nullptr},
    {0x40101010, "Diversified Banks", nullptr},
    {0x40101015, "Regional Banks", nullptr},
    {0x40102000, "Finance", nullptr},
    {0x40102010, "Thrifts and Mortgage Finance", nullptr},
    {0x40200000, "Diversified Financials", "Diversified Financials"},
    {0x40201000, "Diversified Financial Services", nullptr},
    {0x40201010, "Consumer Finance", nullptr},
    {0x40201020, "Other Diversified Financial Services", nullptr},
    {0x40201030, "Multi-Sector Holdings", nullptr},
    {0x40201040, "Specialized Finance", nullptr},
    {0x40202000, "Consumer Finance", nullptr},
    {0x40202010, "Consumer Finance", nullptr},
    {0x40203000, "Capital Markets", nullptr},
    {0x40203010, "Asset Management and Custody Banks", nullptr},
    {0x40203020, "Investment Banking and Brokerage", nullptr},
    {0x40203030, "Diversified Capital Markets", nullptr},
    {0x40000000, "Financials", "Financials"},
    {0x40300000, "Insurance", "Insurance"},
    {0x40301000, "Insurance", nullptr},
    {0x40301010, "Insurance Brokers", nullptr},
    {0x40301020, "Life and Health Insurance", nullptr},
    {0x40301030, "Multi-line Insurance", nullptr},
    {0x40301040, "Property and Casualty Insurance", nullptr},
    {0x40301050, "Reinsurance", nullptr},
    {0x40400000, "Real Estate", "Real Estate"},
    {0x40401000, "Real Estate", nullptr},
    {0x40401010, "Real Estate Investment Trusts", nullptr},
    {0x40401020, "Real Estate Management and Development", nullptr},
    {0x40402000, "(REITs)", nullptr},
    {0x40402010, "Diversified REIT's", nullptr},
    {0x40402020, "Industrial REIT's", nullptr},
    {0x40402030, "Mortgage REIT's", nullptr},
    {0x40402040, "Office REIT's", nullptr},
    {0x40402050, "Residential REIT's", nullptr},
    {0x40402060, "Retail REIT's", nullptr},
    {0x40402070, "Specialized REIT's", nullptr},
    {0x40403000, "Development", nullptr},
    {0x40403010, "Diversified Real Estate Activities", nullptr},
    {0x40403020, "Real Estate Operating Companies", nullptr},
    {0x40403030, "Real Estate Development", nullptr},
    {0x40403040, "Real Estate Services", nullptr},

    {0x45000000, "Information Technology", "Information Tech"},
    {0x45100000, "Software and Services", "Software & Services"},
    {0x45101000, "Internet Software and Services", nullptr},
    {0x45101010, "Internet Software and Services", nullptr},
    {0x45102000, "IT Services", nullptr},
    {0x45102010, "IT Consulting and Other Services", nullptr},
    {0x45102020, "Data Processing and Outsourced Services", nullptr},
    {0x45103000, "Software", nullptr},
    {0x45103010, "Application Software", nullptr},
    {0x45103020, "Systems Software", nullptr},
    {0x45103030, "Home Entertainment Software", nullptr},
    {0x45200000, "Technology Hardware and Equipment", "Technology Hardware & Equip"},
    {0x45201000, "Equipment", nullptr},
    {0x45201020, "Communications Equipment", nullptr},
    {0x45201010, "Networking Equipment", nullptr},
    {0x45201020, "Telecommunications Equipment", nullptr},
    {0x45202000, "Peripherals", nullptr},
    {0x45202010, "Computer Hardware", nullptr},
    {0x45202020, "Computer Storage and Peripherals", nullptr},
    {0x45203000, "Components", nullptr},
    {0x45203010, "Electronic Equipment and Instruments", nullptr},
    {0x45203015, "Electronic Components", nullptr},
    {0x45203020, "Electronic Manufacturing Services", nullptr},
    {0x45203030, "Technology Distributors", nullptr},
    {0x45204000, "Office Electronics", nullptr},
    {0x45204010, "Office Electronics", nullptr},
    {0x45205000, "Semiconductor Equipment and Products", nullptr},
    {0x45205010, "Semiconductor Equipment", nullptr},
    {0x45205020, "Semiconductors", nullptr},
    {0x45300000, "Semiconductors and Semiconductor Equipment", "Semiconductor Equipment"},
    {0x45301000, "Semiconductors and Semiconductor Equipment", nullptr},
    {0x45301010, "Semiconductor Equipment", nullptr},
    {0x45301020, "Semiconductors", nullptr},

    {0x50000000, "Communication Services", "Communication Services"},
    {0x50100000, "Telecommunication Services", "Telecom Services"},
    {0x50101000, "Diversified Telecommunication Services", nullptr},
    {0x50101010, "Alternative Carriers", nullptr},
    {0x50101020, "Integrated Telecommunication Services", nullptr},
    {0x50102000, "Wireless Telecommunication Services", nullptr},
    {0x50102010, "Wireless Telecommunication Services", nullptr},
    {0x50200000, "Media and Entertainment", "Media"},

    {0x55000000, "Utilities", "Utilities"},
    {0x55100000, "Utilities", "Utilities"},
    {0x55101000, "Electric Utilities", nullptr},
    {0x55101010, "Electric Utilities", nullptr},
    {0x55102000, "Gas Utilities", nullptr},
    {0x55102010, "Gas Utilities", nullptr},
    {0x55103000, "Multi-Utilities", nullptr},
    {0x55103010, "Multi-Utilities", nullptr},
    {0x55104000, "Water Utilities", nullptr},
    {0x55104010, "Water Utilities", nullptr},
    {0x55105000, "Traders", nullptr},
    {0x55105010, "Independent Power Producers and Energy Traders", nullptr},

    {0x60000000, "Real Estate", "Real Estate"},
    {0x60100000, "Real Estate", "Real Estate"},
    {0x60101000, "Real Estate Investment Trusts", "REITs"},
};

constexpr int kBuiltinCount = sizeof kRows / sizeof kRows[0];

// The level follows from how many trailing hex digits are zero.
constexpr uint32_t level_of(uint32_t code) {
  if ((code & 0x00FFFFFFu) == 0) return kGicsSector;
  if ((code & 0x0000FFFFu) == 0) return kGicsIndustryGroup;
  if ((code & 0x000000FFu) == 0) return kGicsIndustry;
  return kGicsSubIndustry;
}

// "Commercial Services and Supplies" is an industry by its code but has
// always been filed as an industry group; filters rely on that level.
constexpr uint32_t kGroupFiledIndustry = 0x20201000u;

constexpr std::array<gics_entry, kBuiltinCount> kBuiltin = [] {
  std::array<gics_entry, kBuiltinCount> a{};
  for (int i = 0; i < kBuiltinCount; i++) {
    const gics_row& r = kRows[i];
    uint32_t mask = r.code == kGroupFiledIndustry ? kGicsIndustryGroup : level_of(r.code);
    a[i] = gics_entry{r.code, mask, r.name, r.short_name};
  }
  return a;
}();

struct sector_index_row {
  int32_t exchange;
  const char* index_code;
  uint32_t gics;
};

// Exchange sector indices and the classification each one tracks, searched
// in order.
constexpr sector_index_row kSectorIndices[] = {
    {0, "XEJ", 0x10000000}, {0, "XMJ", 0x15102000}, {0, "XMM", 0x15104000}, {0, "XNJ", 0x20000000},
    {0, "XDJ", 0x25000000}, {0, "XSJ", 0x30000000}, {0, "XHJ", 0x35000000}, {0, "XFJ", 0x40000000},
    {0, "XPJ", 0x60101000}, {0, "XIJ", 0x45000000}, {0, "XTJ", 0x50000000}, {0, "XUJ", 0x55000000},
    {1, "G01", 0x20000000}, {1, "G02", 0x10000000}, {1, "G03", 0x20100000}, {1, "G04", 0x40401000},
    {1, "G05", 0x20200000}, {1, "G06", 0x40000000}, {1, "A01", 0x30200000}, {1, "A02", 0x15104000},
    {1, "A03", 0x15100000}, {1, "A04", 0x40401000}, {1, "A06", 0x30100000}, {1, "A07", 0x25200000},
    {1, "A08", 0x25200000}, {1, "A10", 0x20300000}, {1, "A11", 0x20300000}, {1, "A12", 0x25301000},
    {1, "A13", 0x25000000}, {1, "A14", 0x25400000}, {1, "A15", 0x40000000},
};

// The slot holding `code`, or null when the code is absent.
const gics_entry* find_slot(uint32_t code) {
  if (g.slots == nullptr || code == 0) return nullptr;
  int slot = static_cast<int>(code % kGicsSlots);
  for (int probe = 0; probe < kGicsMaxProbes; probe++) {
    const gics_entry* e = &g.slots[slot];
    if (e->code == 0) return nullptr;
    if (e->code == code) return e;
    slot = slot + 1 == kGicsSlots ? 0 : slot + 1;
  }
  return nullptr;
}

}  // namespace

int gics_init(void) {
  gics_fini();
  g.slots = static_cast<gics_entry*>(dalloc_alloc(kGicsSlots * sizeof(gics_entry)));
  memset(g.slots, 0, kGicsSlots * sizeof(gics_entry));
  if (gics_load() != 0) {
    log(LOG_ERROR, kSrc, "can't load GICS table");
    return -1;
  }
  return 0;
}

void gics_fini(void) {
  if (g.slots != nullptr) dalloc_free(g.slots);
  g.slots = nullptr;
}

int gics_add(uint32_t code, uint32_t mask, const char* name, const char* short_name) {
  // Code 0 marks an empty slot, so it cannot be stored.
  if (g.slots != nullptr && code != 0) {
    int slot = static_cast<int>(code % kGicsSlots);
    for (int probe = 0; probe < kGicsMaxProbes; probe++) {
      gics_entry* e = &g.slots[slot];
      if (e->code == 0 || e->code == code) {
        *e = gics_entry{code, mask, name, short_name};
        return 0;
      }
      slot = slot + 1 == kGicsSlots ? 0 : slot + 1;
    }
    log(LOG_ERROR, kSrc, "failed to add %08x?", code);
  }
  log(LOG_ERROR, kSrc, "can't insert %08x", code);
  return -1;
}

int gics_load(void) {
  for (const gics_entry& e : kBuiltin)
    if (gics_add(e.code, e.mask, e.name, e.short_name) != 0) return -1;
  return 0;
}

const char* gics_name(uint32_t code) {
  const gics_entry* e = find_slot(code);
  return e ? e->name : nullptr;
}

const char* gics_short_name(uint32_t code) {
  const gics_entry* e = find_slot(code);
  return e ? e->short_name : nullptr;
}

uint32_t gics_level(uint32_t code) {
  const gics_entry* e = find_slot(code);
  return e ? e->mask : 0;
}

uint32_t gics_code_for_index(int32_t exchange, const char* index_code) {
  if (index_code == nullptr) return 0;
  for (const sector_index_row& r : kSectorIndices)
    if (r.exchange == exchange && strcmp(r.index_code, index_code) == 0) return r.gics;
  return 0;
}

const gics_entry* gics_next(int32_t* cursor) {
  if (g.slots == nullptr) return nullptr;
  while (*cursor >= 0 && *cursor < kGicsSlots) {
    const gics_entry* e = &g.slots[(*cursor)++];
    if (e->code != 0) return e;
  }
  return nullptr;
}

const gics_entry* gics_builtin(int32_t* count) {
  *count = kBuiltinCount;
  return kBuiltin.data();
}
