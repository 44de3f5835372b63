"""Version of the companion; the build's project version must agree with it."""

__version__ = "1.0.0"
