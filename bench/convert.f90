! The whole conversion written with the Fortran runtime's own I/O: the control file and the
! table rows read list-directed (READ(2,*)), the map mirrored and sampled through EB2D_APPR,
! format 0 written unformatted (WRITE(7)), formats 1 and 2 list-directed (WRITE(7,*)). The
! reference for what the same program costs in Fortran; its text files are laid out by the
! runtime, its binary file matches the converter's byte for byte.
! Run like the converter, in the directory that holds poisson_to_kavro.dat.
module run_state
  implicit none
  integer, parameter :: map_nr_max = 200, map_nz_max = 1000
  integer, parameter :: grid_nx = 25, grid_ny = 25, grid_nz = 201

  character(len=80) :: poisson_file
  integer :: iflag_EH, kmirror_z, kfile_num, kform_3D, ksym_x, ksym_y, ksym_z
  real(8) :: d_elm, aper, scale_E, scale_B

  integer :: Nr, Nz
  real(8) :: Rmin, Rmax, Zmin, Zmax
  real(8) :: Er_map(map_nr_max, map_nz_max), Ez_map(map_nr_max, map_nz_max)
  real(8) :: Br_map(map_nr_max, map_nz_max), Bz_map(map_nr_max, map_nz_max)
  real(8) :: r_node(map_nr_max), z_node(map_nz_max)

  real(8) :: xmws(2), ymws(2), zmws(2)
  real(8) :: x_grid(grid_nx), y_grid(grid_ny), z_grid(grid_nz)
  real(8) :: Ex(grid_nx, grid_ny, grid_nz), Ey(grid_nx, grid_ny, grid_nz), Ez(grid_nx, grid_ny, grid_nz)
  real(8) :: Bx(grid_nx, grid_ny, grid_nz), By(grid_nx, grid_ny, grid_nz), Bz(grid_nx, grid_ny, grid_nz)

  character(len=80) :: field_file
  integer :: k_s_EH, kend_mark
end module run_state

module conversion
  use run_state
  implicit none
contains

  subroutine read_control_file()
    open (1, file='poisson_to_kavro.dat', status='old')
    read (1, *)
    read (1, *)
    read (1, '(a80)') poisson_file
    read (1, *) iflag_EH
    read (1, *) kmirror_z
    read (1, *) kfile_num
    read (1, *) kform_3D
    read (1, *) ksym_x, ksym_y, ksym_z
    read (1, *) d_elm
    read (1, *) aper
    read (1, *) scale_E
    read (1, *) scale_B
    close (1)
  end subroutine read_control_file

  subroutine read_poisson_table()
    character(len=100) :: head_line
    integer :: name_len

    name_len = len_trim(poisson_file)
    write (*, *) ' Reading file: ', poisson_file(1:name_len)
    open (2, file=poisson_file, status='old')
    do
      read (2, '(a100)') head_line
      if (index(head_line, 'Zmin') > 0) exit
    end do
    read (head_line(16:100), *) Rmin, Zmin
    read (2, '(a100)') head_line
    read (head_line(16:100), *) Rmax, Zmax
    read (2, '(a100)') head_line
    read (head_line(23:100), *) Nr, Nz
    Nz = Nz + 1
    Nr = Nr + 1
    write (*, *) ' Input Grid parameters '
    write (*, *) ' Zmin, Zmax, Nz = ', Zmin, Zmax, Nz
    write (*, *) ' Rmin, Rmax, Nr = ', Rmin, Rmax, Nr
    if (.not. (Zmin == -Zmax)) then
      Zmax = (Zmax - Zmin) / 2
      Zmin = -Zmax
      write (*, *) ' Shifted & Centered Z: Zmin, Zmax= ', Zmin, Zmax
    end if
    read (2, *)
    read (2, *)
    read (2, *)
    if (iflag_EH /= 0 .and. iflag_EH /= 1) stop ' Not a valid Field Type (iflag_EH) '
    call check_capacity()
    if (iflag_EH == 0) then
      call load_rows(Er_map, Ez_map, Br_map, Bz_map, scale_E)
    else
      call load_rows(Br_map, Bz_map, Er_map, Ez_map, scale_B)
    end if
    close (2)
  end subroutine read_poisson_table

  ! The maps are static storage of a fixed size: a larger table is refused before a row is read.
  subroutine check_capacity()
    integer :: full_nz
    full_nz = merge(2 * Nz - 1, Nz, mirror_mode())
    if (Nr < 3 .or. Nr > map_nr_max .or. full_nz < 3 .or. full_nz > map_nz_max) stop ' Field map rejected '
  end subroutine check_capacity

  logical function mirror_mode()
    mirror_mode = abs(kmirror_z) == 1 .or. abs(kmirror_z) == 2
  end function mirror_mode

  subroutine load_rows(radial, axial, other_radial, other_axial, scale)
    real(8), intent(inout) :: radial(map_nr_max, map_nz_max), axial(map_nr_max, map_nz_max)
    real(8), intent(inout) :: other_radial(map_nr_max, map_nz_max), other_axial(map_nr_max, map_nz_max)
    real(8), intent(in) :: scale
    real(8) :: tab_c1, tab_c2, tab_f1, tab_f2
    integer :: ir, iz

    do iz = 1, Nz
      do ir = 1, Nr
        read (2, *) tab_c1, tab_c2, tab_f1, tab_f2
        radial(ir, iz) = tab_f1 * scale
        axial(ir, iz) = tab_f2 * scale
        other_radial(ir, iz) = 0
        other_axial(ir, iz) = 0
      end do
    end do
  end subroutine load_rows

  subroutine prepare_map()
    real(8) :: dr, dz
    integer :: ir, iz

    if (mirror_mode()) call mirror()
    dr = (Rmax - Rmin) / (Nr - 1)
    do ir = 1, Nr
      r_node(ir) = (ir - 1) * dr + Rmin
    end do
    dz = (Zmax - Zmin) / (Nz - 1)
    do iz = 1, Nz
      z_node(iz) = (iz - 1) * dz + Zmin
    end do
    write (*, *) ' Full Input Grid parameters '
    write (*, *) ' Zmin, Zmax, Nz = ', Zmin, Zmax, Nz
    write (*, *) ' Rmin, Rmax, Nr = ', Rmin, Rmax, Nr
  end subroutine prepare_map

  ! Positive modes hold the half z >= 0 (first table row on the mirror plane), negative modes
  ! the half z <= 0; modes 1 and -1 negate the axial maps in the mirror image, 2 and -2 the radial.
  subroutine mirror()
    integer :: full, first, last, m, ir, iz
    logical :: axial_odd

    full = 2 * Nz - 1
    axial_odd = abs(kmirror_z) == 1
    if (kmirror_z > 0) then
      do iz = Nz, 1, -1
        do ir = 1, Nr
          Er_map(ir, iz + Nz - 1) = Er_map(ir, iz)
          Ez_map(ir, iz + Nz - 1) = Ez_map(ir, iz)
          Br_map(ir, iz + Nz - 1) = Br_map(ir, iz)
          Bz_map(ir, iz + Nz - 1) = Bz_map(ir, iz)
        end do
      end do
      first = 1
      last = Nz - 1
    else
      first = Nz + 1
      last = full
    end if
    do m = first, last
      do ir = 1, Nr
        Er_map(ir, m) = merge(-Er_map(ir, full - m + 1), Er_map(ir, full - m + 1), .not. axial_odd)
        Ez_map(ir, m) = merge(-Ez_map(ir, full - m + 1), Ez_map(ir, full - m + 1), axial_odd)
        Br_map(ir, m) = merge(-Br_map(ir, full - m + 1), Br_map(ir, full - m + 1), .not. axial_odd)
        Bz_map(ir, m) = merge(-Bz_map(ir, full - m + 1), Bz_map(ir, full - m + 1), axial_odd)
      end do
    end do
    Nz = full
    Zmin = 2 * Zmin
    Zmax = 2 * Zmax
  end subroutine mirror

  subroutine axis_nodes(limits, half, ksym, nodes, n)
    real(8), intent(out) :: limits(2)
    real(8), intent(in) :: half
    integer, intent(in) :: ksym, n
    real(8), intent(out) :: nodes(n)
    real(8) :: step
    integer :: i

    limits = [-half, half]
    if (ksym /= 0) limits(1) = 0
    step = (limits(2) - limits(1)) / (n - 1)
    do i = 1, n
      nodes(i) = (i - 1) * step + limits(1)
    end do
  end subroutine axis_nodes

  subroutine sample_field()
    real(8) :: x, y, z, r, E_cyl(3), B_cyl(3)
    integer :: i, j, k

    call axis_nodes(xmws, aper, ksym_x, x_grid, grid_nx)
    call axis_nodes(ymws, aper, ksym_y, y_grid, grid_ny)
    call axis_nodes(zmws, d_elm / 2, ksym_z, z_grid, grid_nz)
    write (*, *) ' Kavro grid and other info '
    write (*, *) grid_nx, xmws(1), xmws(2)
    write (*, *) grid_ny, ymws(1), ymws(2)
    write (*, *) grid_nz, zmws(1), zmws(2)
    do i = 1, grid_nx
      do j = 1, grid_ny
        do k = 1, grid_nz
          x = x_grid(i)
          y = y_grid(j)
          z = z_grid(k)
          r = sqrt(x * x + y * y)
          call EB2D_APPR(r, z, E_cyl, B_cyl)
          if (r > 1.0d-12) then
            Ex(i, j, k) = (x * E_cyl(1)) / r
            Ey(i, j, k) = (y * E_cyl(1)) / r
            Bx(i, j, k) = (x * B_cyl(1)) / r
            By(i, j, k) = (y * B_cyl(1)) / r
          else
            Ex(i, j, k) = 0
            Ey(i, j, k) = 0
            Bx(i, j, k) = 0
            By(i, j, k) = 0
          end if
          Ez(i, j, k) = E_cyl(3)
          Bz(i, j, k) = B_cyl(3)
        end do
      end do
    end do
  end subroutine sample_field

  ! The quadratic estimate on the 3 x 3 nodes around the node nearest to (r, z); 0 outside the map.
  subroutine EB2D_APPR(r, z, E_cyl, B_cyl)
    real(8), intent(in) :: r, z
    real(8), intent(out) :: E_cyl(3), B_cyl(3)
    real(8) :: dr, dz, p, q, p2, q2, w0, wrp, wrm, wzp, wzm, wx
    integer :: ir, iz

    E_cyl = 0
    B_cyl = 0
    if (r < r_node(1) .or. r > r_node(Nr)) return
    if (z < z_node(1) .or. z > z_node(Nz)) return
    dr = r_node(2) - r_node(1)
    dz = z_node(2) - z_node(1)
    ir = int(((r - r_node(1)) - dr / 2) / dr) + 2
    if (ir < 2) ir = 2
    if (ir >= Nr) ir = Nr - 1
    iz = int(((z - z_node(1)) - dz / 2) / dz) + 2
    if (iz < 2) iz = 2
    if (iz >= Nz) iz = Nz - 1
    p = (r - r_node(ir)) / dr
    q = (z - z_node(iz)) / dz
    p2 = p * p
    q2 = q * q
    w0 = (1 - p2) - q2
    wrp = (p + p2) / 2
    wrm = (p2 - p) / 2
    wzp = (q + q2) / 2
    wzm = (q2 - q) / 2
    wx = (p * q) / 4
    E_cyl(1) = approx(Er_map)
    E_cyl(3) = approx(Ez_map)
    B_cyl(1) = approx(Br_map)
    B_cyl(3) = approx(Bz_map)
  contains
    real(8) function approx(F)
      real(8), intent(in) :: F(map_nr_max, map_nz_max)
      real(8) :: X, S
      X = (((F(ir + 1, iz + 1) + F(ir - 1, iz - 1)) - F(ir - 1, iz + 1)) - F(ir + 1, iz - 1)) * wx
      S = wrp * F(ir + 1, iz)
      S = S + w0 * F(ir, iz)
      S = S + wrm * F(ir - 1, iz)
      S = S + wzp * F(ir, iz + 1)
      S = S + wzm * F(ir, iz - 1)
      approx = S + X
    end function approx
  end subroutine EB2D_APPR

  subroutine write_output()
    integer :: name_len

    field_file = 'eh_EMS.#'
    name_len = len_trim(field_file)
    write (field_file(name_len + 1:name_len + 2), '(i2.2)') kfile_num
    write (*, *) 'output field file name = ', field_file(1:name_len + 2)
    k_s_EH = 0
    kend_mark = -99
    if (kform_3D < 0 .or. kform_3D > 2) stop ' Not a valid KAVRO 3D field format: use 0, 1 or 2 '
    if (iflag_EH == 0) then
      call write_field_file(Ex, Ey, Ez)
    else
      call write_field_file(Bx, By, Bz)
    end if
  end subroutine write_output

  subroutine write_field_file(Fx, Fy, Fz)
    real(8), intent(in) :: Fx(grid_nx, grid_ny, grid_nz), Fy(grid_nx, grid_ny, grid_nz), Fz(grid_nx, grid_ny, grid_nz)
    select case (kform_3D)
    case (0)
      call write_format_0(Fx, Fy, Fz)
    case (1)
      call write_format_1(Fx, Fy, Fz)
    case (2)
      call write_format_2(Fx, Fy, Fz)
    end select
  end subroutine write_field_file

  subroutine write_format_0(Fx, Fy, Fz)
    real(8), intent(in) :: Fx(grid_nx, grid_ny, grid_nz), Fy(grid_nx, grid_ny, grid_nz), Fz(grid_nx, grid_ny, grid_nz)
    open (7, file=field_file, status='unknown', form='unformatted')
    write (7) d_elm, aper, k_s_EH
    write (7) ksym_x, ksym_y, ksym_z
    write (7) x_grid
    write (7) y_grid
    write (7) z_grid
    write (7) Fx
    write (7) Fy
    write (7) Fz
    write (7) kend_mark
    close (7)
  end subroutine write_format_0

  subroutine write_format_1(Fx, Fy, Fz)
    real(8), intent(in) :: Fx(grid_nx, grid_ny, grid_nz), Fy(grid_nx, grid_ny, grid_nz), Fz(grid_nx, grid_ny, grid_nz)
    open (7, file=field_file, status='unknown')
    write (7, *) d_elm, aper, k_s_EH
    write (7, *) ksym_x, ksym_y, ksym_z
    write (7, *) x_grid
    write (7, *) y_grid
    write (7, *) z_grid
    write (7, *) Fx
    write (7, *) Fy
    write (7, *) Fz
    write (7, *) kend_mark
    close (7)
  end subroutine write_format_1

  subroutine write_format_2(Fx, Fy, Fz)
    real(8), intent(in) :: Fx(grid_nx, grid_ny, grid_nz), Fy(grid_nx, grid_ny, grid_nz), Fz(grid_nx, grid_ny, grid_nz)
    integer :: i, j, k
    open (7, file=field_file, status='unknown')
    write (7, *) iflag_EH
    write (7, *) ksym_x, ksym_y, ksym_z
    write (7, *) xmws(1), xmws(2), grid_nx
    write (7, *) ymws(1), ymws(2), grid_ny
    write (7, *) zmws(1), zmws(2), grid_nz
    do i = 1, grid_nx
      do j = 1, grid_ny
        do k = 1, grid_nz
          write (7, *) Fx(i, j, k), Fy(i, j, k), Fz(i, j, k)
        end do
      end do
    end do
    close (7)
  end subroutine write_format_2

  subroutine closing_report()
    write (*, *) 'd_elm, aper, k_s_EH= ', d_elm, aper, k_s_EH
    write (*, *) 'ksym_x, ksym_y, ksym_z= ', ksym_x, ksym_y, ksym_z
    write (*, *) 'xmws limits= ', x_grid(1), x_grid(grid_nx)
    write (*, *) 'ymws limits= ', y_grid(1), y_grid(grid_ny)
    write (*, *) 'zmws limits= ', z_grid(1), z_grid(grid_nz)
  end subroutine closing_report
end module conversion

program poisson_to_kavro_fortran
  use conversion
  implicit none
  call read_control_file()
  call read_poisson_table()
  call prepare_map()
  call sample_field()
  call write_output()
  call closing_report()
end program poisson_to_kavro_fortran
