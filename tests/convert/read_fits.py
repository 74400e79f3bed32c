# Prints what astropy reads from FITS files: for each, its shape, data type,
# every data value in storage order, and the header cards the tests check.
# The header is verified against the FITS standard first.
import sys
import warnings

from astropy.io import fits

warnings.simplefilter("error")  # any complaint of astropy's fails the test
for name in sys.argv[1:]:
    with fits.open(name) as hdul:
        hdul.verify("exception")
        hdu = hdul[0]
        print("file", name)
        print("shape", " ".join(str(n) for n in hdu.data.shape))
        print("dtype", hdu.data.dtype)
        print("data", " ".join(str(int(v)) for v in hdu.data.ravel()))
        for key in ("BITPIX", "NAXIS", "EXPTIME", "AMPOFF", "DATE-OBS", "DATE-END", "TIMESYS",
                    "MJD-OBS", "INSTRUME", "IMAGENUM", "ROWORDER", "DATE"):
            if key in hdu.header:
                print("key", key, hdu.header[key])
