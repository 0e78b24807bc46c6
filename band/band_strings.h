// String-table entries of the band's resources.
#pragma once

#define IDS_TESSERA_READY 65277
