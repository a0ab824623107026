# Fuzz targets of this area are added here.
