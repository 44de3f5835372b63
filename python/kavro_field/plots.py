"""The logbook figure of a field file: on-axis field, a transverse profile and two slices.

matplotlib is imported here only, so that the other commands start without it.
"""

import numpy as np

from .outputs import write_atomically


def _nearest(grid, value=0.0):
    return int(np.argmin(np.abs(grid - value)))


def figure(f, unit="length unit of the table"):
    """Build the figure of a field file.

    Parameters
    ----------
    f : FieldFile
    unit : str
        Length unit for the axis labels (the file does not name its own).

    Returns
    -------
    matplotlib.figure.Figure
    """
    import matplotlib
    matplotlib.use("Agg")
    from matplotlib.figure import Figure

    names = [(f.kind or "F") + axis for axis in "xyz"]
    i0, j0 = _nearest(f.x_grid), _nearest(f.y_grid)
    k_peak = int(np.argmax(np.max(np.abs(f.Fx[:, j0, :]), axis=0)))
    fig = Figure(figsize=(10, 7.2), dpi=80, layout="constrained")
    fig.suptitle(f"{f.path} (layout {f.layout})")
    axes = fig.subplots(2, 2)

    on_axis = axes[0, 0]
    on_axis.plot(f.z_grid, f.Fz[i0, j0, :], color="tab:blue")
    on_axis.set(title=f"{names[2]} on the axis (x = {f.x_grid[i0]:.3g}, y = {f.y_grid[j0]:.3g})",
                xlabel=f"z [{unit}]", ylabel=names[2])
    on_axis.grid(True, alpha=0.3)

    profile = axes[0, 1]
    profile.plot(f.x_grid, f.Fx[:, j0, k_peak], "o-", ms=3, label=names[0])
    profile.plot(f.x_grid, f.Fz[:, j0, k_peak], "s-", ms=3, label=names[2])
    profile.set(title=f"transverse profile at y = {f.y_grid[j0]:.3g}, z = {f.z_grid[k_peak]:.4g}",
                xlabel=f"x [{unit}]", ylabel="field")
    profile.legend()
    profile.grid(True, alpha=0.3)

    def colour_map(ax, horizontal, vertical, values, title, xlabel, ylabel):
        image = ax.pcolormesh(horizontal, vertical, values, shading="nearest", cmap="viridis")
        fig.colorbar(image, ax=ax, label=names[2])
        ax.set(title=title, xlabel=f"{xlabel} [{unit}]", ylabel=f"{ylabel} [{unit}]")

    k_slice = int(np.argmax(np.max(np.abs(f.Fz), axis=(0, 1))))
    colour_map(axes[1, 0], f.z_grid, f.x_grid, f.Fz[:, j0, :], f"{names[2]} in the x-z plane y = {f.y_grid[j0]:.3g}",
               "z", "x")
    colour_map(axes[1, 1], f.x_grid, f.y_grid, f.Fz[:, :, k_slice].T,
               f"{names[2]} in the x-y plane z = {f.z_grid[k_slice]:.4g}", "x", "y")
    axes[1, 1].set_aspect("equal")
    return fig


def save_plot(f, path, unit="length unit of the table"):
    """Write the figure of `f` as a PNG file."""
    fig = figure(f, unit)

    def write(temporary):
        with open(temporary, "wb") as out:
            fig.savefig(out, format="png")
    write_atomically(path, write, inputs=[f.path])
